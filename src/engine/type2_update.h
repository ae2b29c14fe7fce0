// The type-2 update: a new firmware set is written into the bank the active block does not use,
// a new block describing it is activated, and the old block is deactivated. The old bank is
// never touched, and the new block becomes active only with the last four bytes programmed
// into it, so at every moment one active, valid block describes intact components.
#pragma once

#include <cstdint>

#include "engine/flash_update_status.h"
#include "engine/update_data.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// Writes the update (parseUpdateData filled it) into a flash in the type-2 layout. `ncb0` and
// `ncb1` are the in-memory copies of the two blocks (at least one active; NCB0 is taken when
// both are) and are changed in place; after success they equal the flash.
//
// The bank, the components and the new block are written in up to two attempts. A new block
// whose write fails is erased again before the next attempt, so the bank is only ever erased
// while the old block is the one readers take; when that erase fails too, the update ends
// there. Once the new block is active, only the old block's deactivation is repeated (once)
// when it fails: the new bank is never erased again.
//
// kStatusNcbBuildFailed when the new block cannot be built (nothing written), else the status
// of the last failing step: erase, write, read, read-back or memory.
FlashUpdateStatus type2PerformUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb ncb0,
                                     HalvernNcb ncb1, const UpdateData& updateData);

}  // namespace hlv
