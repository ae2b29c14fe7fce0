// Reading an adapter's flash state without writing anything: the active block, its layout and
// firmware, the component checksums of that firmware, and whether a rollback would be accepted.
#pragma once

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/flash_state.h"

namespace hlv {

// Fills `state` as far as the flash can be read. The status of the active block's readout: 0,
// kStatusFlashInitFailed, kStatusOutOfMemory, the read status, or kStatusNoValidActiveNcb (the
// other fields then stay none, and the rollback answer is still given).
FlashUpdateStatus readFlashState(VoFlashControlInterface& flashCtrl, FlashState& state);

}  // namespace hlv
