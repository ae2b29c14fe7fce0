// Writing a block that activates something, so that a failure never leaves it active over
// contents nobody checked.
//
// writeNcb programs the first four bytes (the state among them) last, but a failure after that
// step (a read-back that differs, a read that fails) leaves an active block behind that may be
// damaged, and readers prefer NCB0. The block is therefore erased again after any failed write:
// the block it was to replace is then the one readers take, and the flash it describes may be
// rewritten on a retry.
#pragma once

#include <cstdint>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// Erases the block at kNcb0Address or kNcb1Address whole. 0, or kStatusFlashEraseFailed when a
// unit fails or the part's sector does not divide the block.
FlashUpdateStatus eraseNcbBlock(VoFlashControlInterface& flashCtrl, uint32_t ncbAddress);
// The same for the first `length` bytes of the block (a whole number of sectors): enough to
// make the block read as not active.
FlashUpdateStatus eraseNcbStart(VoFlashControlInterface& flashCtrl, uint32_t ncbAddress,
                                uint32_t length);

// writeNcb; when it fails the block is erased again. `cleared` tells whether the block is
// known to read as erased afterwards (true on success too: the block is then as written). A
// caller whose write failed with `cleared` false must not erase anything the block describes.
FlashUpdateStatus writeActivatingNcb(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                     uint32_t ncbAddress, bool& cleared);
// writeNcbStart with the same guard: after a failure the rewritten bytes are erased again.
FlashUpdateStatus writeActivatingNcbStart(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                          uint32_t ncbAddress, uint32_t length, bool& cleared);

}  // namespace hlv
