// What a rollback of an adapter's flash is about to rewrite, read and checked before anything is
// written: recorded with the backup it relies on before the flash is touched, so that a rollback
// cut short can be finished from that backup and from no other file.
#pragma once

#include <cstdint>

#include "shared/firmware_version.h"

namespace hlv {

struct RollbackPlan {
  // The flash part as the flash interface identified it.
  uint32_t flashId = 0;
  uint32_t flashSize = 0;
  uint32_t sectorSize = 0;
  // The block made active (its first sector erased and written again) and the block deactivated
  // (its state bits cleared in place).
  uint32_t activateAddress = 0;
  uint32_t deactivateAddress = 0;
  FirmwareVersion current;   // what the adapter runs
  FirmwareVersion previous;  // what the rollback restores
};

}  // namespace hlv
