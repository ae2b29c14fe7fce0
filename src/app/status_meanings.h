// What a status number means, in words, for the machine-readable run report. The numbers are the
// ones the console prints and the exit status carries; each kind of step has its own list, since
// the same number means different things in different steps (3 is "no image" for an update and
// "block not usable" for the engine).
#pragma once

#include <cstdint>
#include <string>

namespace hlv {

enum class StatusKind : uint8_t {
  kEngine,  // the flash update engine and the adapter update interface
  // One adapter's update once its backup is saved: kUpdateNotPossible or the engine's.
  kUpdate,
  // One adapter's rollback other than its backup: not possible, aborted or the engine's.
  kRollback,
  kBackup,         // the backup before an update or a rollback
  kReload,         // the firmware reload
  kDriverRestart,  // the driver restart
};

// The meaning of `status` for that kind of step: a short phrase ("success", "the flash could not
// be erased"); a number no list knows is "status N". The one place the report takes its words
// from.
std::string statusMeaning(StatusKind kind, uint32_t status);

}  // namespace hlv
