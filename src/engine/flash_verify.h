// Reading back what was programmed. A part may report a program as done while a cell kept its
// old value (a worn or protected sector, a disturbed transfer); nothing that describes flash
// contents is written before those contents have been read back and compared.
#pragma once

#include <cstdint>
#include <span>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"

namespace hlv {

// Reads `expected.size()` bytes at `address` and compares them with `expected`.
// 0; kStatusFlashWriteFailed when a byte differs; the read status; kStatusOutOfMemory.
FlashUpdateStatus verifyFlash(VoFlashControlInterface& flashCtrl, uint32_t address,
                              std::span<const uint8_t> expected);

}  // namespace hlv
