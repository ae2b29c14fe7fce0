// Switching back to the firmware that ran before the last update: the update leaves it intact in
// the other bank, described by the block it deactivated, so the rollback activates that block
// again and deactivates the current one.
#pragma once

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"

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

}  // namespace hlv
