// Switching back to the firmware that ran before the last update: the update leaves it intact in
// the other bank, described by the block it deactivated, so the rollback activates that block
// again and deactivates the current one.
#pragma once

#include <cstdint>
#include <span>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/firmware_version.h"
#include "shared/rollback_plan.h"

namespace hlv {

// Activates the previous block (the one readers do not take) and then deactivates the current
// one. Only the first erase sector of each block is rewritten, in the order that never leaves an
// active block over unchecked bytes: the previous block's bytes 4 to the end of the sector are
// programmed and read back before its first four bytes (with the active state), which are read
// back too; only then is the current block deactivated the same way.
//
// Everything is checked before the flash is touched:
//   kStatusFlashReadFailed    no memory, the interface not ready, a block or component unreadable
//   kStatusImageInvalid       no valid active block
//   kStatusNcbInvalid         the previous block's CRC or structure is bad, one of its components
//                             lies outside that block's own bank or does not match its CRC
//   kStatusNcbNotUsable       the previous block carries the word that marks it unusable
//   kStatusRollbackImpossible the previous block still describes a free area
//   kStatusNcbBuildFailed     a part whose erase sector is 0 or larger than a block, or that is
//                             smaller than the flash layout
// Then the erase and program statuses (17, 16, 15, 32, 22). A failure while the previous block is
// written erases its first sector again, so that it never stays active half-written.
FlashUpdateStatus rollbackToPreviousImage(VoFlashControlInterface& flashCtrl);

// What a rollback would rewrite, checked exactly as that rollback checks it, with nothing
// written: with an empty backup the ordinary rollback of the flash as it is; with a backup the
// rollback that finishes, from that backup, a rollback cut short (see below). On success the plan
// holds the part's identity, the blocks activated and deactivated, and the versions the adapter
// runs and the rollback restores.
FlashUpdateStatus planRollback(VoFlashControlInterface& flashCtrl,
                               std::span<const uint8_t> backup, RollbackPlan& plan);

// A rollback cut short while it rewrote the previous block's first sector leaves that sector
// erased or half written: the earlier firmware is intact in its bank, but its block is lost to
// the flash. The whole-flash backup the rollback saved before it started still holds the sector.
// The backup (outside input) may finish the rollback only when all of these hold:
//   - it is exactly as long as the part, and the part suits a rollback;
//   - the flash has a valid active current block, and its previous block is not itself a
//     rollback target (then the ordinary rollback applies);
//   - the flash is what a rollback of the backup's flash may have left: the backup's block at
//     the current block's address equals the flash's byte for byte, its block at the previous
//     address equals the flash's after the first erase sector, and in that first sector every
//     bit of the flash is erased or the backup's (the two state bits aside, which the rollback
//     itself clears, erases and sets);
//   - in the backup, readers took the same current block (its previous block was not active, or
//     was NCB1 beside an active NCB0, as a rollback cut before its deactivation leaves them), and
//     that previous block passes the checks of the ordinary rollback and describes components
//     the flash holds intact.
// rollbackFromBackup checks that and then writes exactly what the ordinary rollback would have
// written on the backup's flash: the backup's previous block's first sector with the active
// state, then the current block deactivated. Refusals touch nothing: kStatusBackupMismatch for a
// backup that does not fit this flash or is not needed, the statuses of the ordinary rollback's
// checks for a previous block that may not be activated.
FlashUpdateStatus rollbackFromBackup(VoFlashControlInterface& flashCtrl,
                                     std::span<const uint8_t> backup);

}  // namespace hlv
