// Reading the raw flash contents, for a backup of the whole flash before it is changed.
#pragma once

#include <cstdint>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"

namespace hlv {

// Reads `length` bytes from the start of the flash into buffer (which must hold them). 0,
// kStatusFlashInitFailed, or kStatusFlashReadFailed (also for a length beyond the part).
FlashUpdateStatus readFlashImage(VoFlashControlInterface& flashCtrl, uint8_t* buffer,
                                 uint32_t length);

}  // namespace hlv
