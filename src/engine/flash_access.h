// The engine's three doors to the flash: every read, program and erase it makes goes through
// these wrappers, which turn the flash control's answers into statuses, retry reads once, keep
// every access inside the part, and erase a range with the largest units the part offers.
#pragma once

#include <cstdint>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"

namespace hlv {

// Reads `length` bytes at `address`; a failed read is tried once more. 0 or
// kStatusFlashReadFailed (also for a range that passes the end of the part).
FlashUpdateStatus readFlash(VoFlashControlInterface& flashCtrl, uint32_t address, uint8_t* buffer,
                            uint32_t length);

// Programs `length` bytes at `address` (the range must be erased). 0 or
// kStatusFlashWriteFailed (also for a range that passes the end of the part).
FlashUpdateStatus writeFlash(VoFlashControlInterface& flashCtrl, uint32_t address,
                             const uint8_t* buffer, uint32_t length);

// Erases [start, start + length) in whole units: blocks where a block fits (when the part has
// them and the range is at least a block long), sectors around them. Bytes before the first
// sector boundary at or after `start` are never touched; `alignedStart` reports that boundary.
// Without blocks the last sector is erased whole even when the range ends inside it.
// `erasedBytes` counts what was erased; callers that need the whole range erased check it.
// 0, or kStatusFlashEraseFailed at the first failing unit, for a part without an erase sector
// or smaller than the flash layout, and for a range that passes the end of the part.
FlashUpdateStatus eraseRange(VoFlashControlInterface& flashCtrl, uint32_t start, uint32_t length,
                             uint32_t& alignedStart, uint32_t& erasedBytes);

// The part can hold the flash layout: it has an erase sector and at least the layout's size.
bool partHoldsLayout(const VoFlashControlInterface& flashCtrl);

}  // namespace hlv
