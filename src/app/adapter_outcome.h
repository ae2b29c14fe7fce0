// What the update or the rollback did to one adapter, as the run report tells it. The procedures
// fill it in as they go, so that a run ended by an interrupt still reports what was done.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "shared/firmware_version.h"
#include "shared/sha256.h"

namespace hlv {

struct AdapterOutcome {
  bool attempted = false;  // the procedure began for this adapter
  // The backup: its status once it ended; its file once it was saved whole.
  std::optional<uint32_t> backupStatus;
  std::string backupFile;  // its name in the run's directory
  uint64_t backupSize = 0;
  std::optional<Sha256Digest> backupDigest;
  std::optional<uint32_t> result;  // the procedure's result, once it has one
  // The firmware the flash's active block holds once the procedure ended; none before.
  std::optional<FirmwareVersion> firmwareAfter;
  std::optional<uint32_t> reload;         // the firmware reload's status, when one ran
  std::optional<uint32_t> driverRestart;  // the driver restart's status, when one ran
  bool powerCycleNeeded = false;
  // The monotonic clock when the procedure began and ended; ended is 0 while it runs.
  uint64_t startedNs = 0;
  uint64_t endedNs = 0;
};

}  // namespace hlv
