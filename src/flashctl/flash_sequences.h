// Reading, programming and erasing the flash part through the command engine. Every transfer
// moves at most four bytes through the data register, so a long read or program is a chain of
// word transfers kept open on the part.
#pragma once

#include <cstdint>

#include "flashctl/flash_params.h"
#include "flashctl/flash_register_access.h"
#include "flashctl/flash_status.h"

namespace hlv {

// Derives the part's parameters from its type on every call (an SFDP-described part is asked
// again).
FlashStatus flashReadSequence(const FlashHwContext& context, FlashPartType type, uint32_t address,
                              uint32_t length, uint8_t* buffer, uint32_t& bytesRead);

// Programs page by page; bytesWritten is set only when the whole buffer went out and the part
// is ready again.
FlashStatus flashProgramSequence(const FlashHwContext& context, const FlashParams& params,
                                 uint32_t address, uint32_t length, const uint8_t* buffer,
                                 uint32_t& bytesWritten);

// Erases the unit of the given erase opcode at address.
FlashStatus flashEraseSequence(const FlashHwContext& context, const FlashParams& params,
                               uint16_t opcode, uint32_t address);

}  // namespace hlv
