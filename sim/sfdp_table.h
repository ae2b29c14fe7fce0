// The SFDP area a part answers with: the signature header, the parameter headers and the basic
// flash parameter table describing the part's geometry, in the layout of revision 1.0 (nine
// words) or 1.6 (sixteen words, with page size, timing and status-polling words).
#pragma once

#include <cstdint>
#include <vector>

#include "sim/flash_part_model.h"

namespace hlv::sim {

inline constexpr uint32_t kSfdpAreaSize = 256;
inline constexpr uint32_t kSfdpBasicTableAddress = 0x30;

std::vector<uint8_t> buildSfdpArea(const FlashPartModel& model);

}  // namespace hlv::sim
