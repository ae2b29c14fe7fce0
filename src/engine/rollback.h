// Switching back to the firmware that ran before the last update: the update leaves it intact in
// the other bank, described by the block it deactivated, so the rollback activates that block
// again and deactivates the current one.
#pragma once

#include <cstdint>
#include <span>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/firmware_version.h"

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

// A rollback cut short while it rewrote the previous block's first sector leaves that sector
// erased or half written: the earlier firmware is intact in its bank, but its block is lost to
// the flash. The whole-flash backup the rollback saved before it started still holds the sector.
// The backup (outside input) may finish the rollback only when all of these hold:
//   - it is exactly as long as the part, and the part suits a rollback;
//   - the flash has a valid active current block, and its previous block is not itself a
//     rollback target (then the ordinary rollback applies);
//   - the backup's block at the current block's address equals the flash's byte for byte, and
//     its block at the previous address equals the flash's after the first erase sector;
//   - in the backup that previous block was not active, passes the checks of the ordinary
//     rollback, and describes components the flash holds intact.
// checkRollbackBackup checks that and reads the version of the firmware the backup's previous
// block describes; rollbackFromBackup checks it again and then writes exactly what the ordinary
// rollback would have written on the backup's flash: the backup's previous block's first sector
// with the active state, then the current block deactivated. Refusals touch nothing:
// kStatusBackupMismatch for a backup that does not fit this flash or is not needed, the statuses
// of the ordinary rollback's checks for a previous block that may not be activated.
FlashUpdateStatus checkRollbackBackup(VoFlashControlInterface& flashCtrl,
                                      std::span<const uint8_t> backup,
                                      FirmwareVersion& previousVersion);
FlashUpdateStatus rollbackFromBackup(VoFlashControlInterface& flashCtrl,
                                     std::span<const uint8_t> backup);

}  // namespace hlv
