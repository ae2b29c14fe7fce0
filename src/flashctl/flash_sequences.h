// Reading, programming and erasing the flash part through the command engine. Every transfer
// moves at most four bytes through the data register, so a long read or program is a chain of
// word transfers kept open on the part.
#pragma once

#include <cstdint>

#include "flashctl/flash_params.h"
#include "flashctl/flash_register_access.h"
#include "flashctl/flash_status.h"

namespace hlv {

// Reads with the parameters the part was identified with (loaded once, by init: an
// SFDP-described part is not asked again for every read).
FlashStatus flashReadSequence(const FlashHwContext& context, const FlashParams& params,
                              uint32_t address, uint32_t length, uint8_t* buffer,
                              uint32_t& bytesRead);

// Programs page by page; bytesWritten is set only when the whole buffer went out and the part
// is ready again. A page chunk whose bytes are all 0xFF is not sent: programming 0xFF changes no
// bit, so the part ends byte for byte the same, without the chunk's program time.
FlashStatus flashProgramSequence(const FlashHwContext& context, const FlashParams& params,
                                 uint32_t address, uint32_t length, const uint8_t* buffer,
                                 uint32_t& bytesWritten);

// Erases the unit of the given erase opcode at address.
FlashStatus flashEraseSequence(const FlashHwContext& context, const FlashParams& params,
                               uint16_t opcode, uint32_t address);

}  // namespace hlv
