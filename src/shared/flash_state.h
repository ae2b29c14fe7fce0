// What an adapter's flash holds, as a read-only look finds it: the block a reader takes, its
// layout, the firmware it describes and whether that firmware is intact, and whether the other
// bank holds an earlier firmware a rollback could switch back to.
#pragma once

#include <cstdint>
#include <optional>

#include "shared/firmware_version.h"

namespace hlv {

struct FlashState {
  std::optional<uint32_t> activeNcb;  // 0 or 1; none when no valid block is active
  std::optional<uint32_t> layout;     // 1 or 2, the active block's layout type
  std::optional<FirmwareVersion> running;
  // Every checksummed component of the active block lies in the flash and matches its CRC; none
  // when there is no active block or the components could not be read.
  std::optional<bool> componentsOk;
  // The rollback's own checks, nothing written: 0 when the previous firmware is a usable target,
  // otherwise why not (an engine status).
  uint32_t rollbackStatus = 0;
  std::optional<FirmwareVersion> previous;  // the version a rollback would restore
};

}  // namespace hlv
