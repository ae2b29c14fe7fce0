// Building the control block of a new firmware set in memory.
#pragma once

#include <cstdint>

#include "engine/update_data.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// Builds in `newNcb` the block that will describe the update at `newNcbAddress` (kNcb0Address or
// kNcb1Address): the in-block areas A, B, C and F carried over from the active block and E and D
// from the update, packed from 0x800 on 0x100 boundaries in that order (areaC is dropped when
// the active block shares one offset between areaB and areaC); the header fields the engine
// does not interpret carried over; size, imageVersion and imageTag from the update; no free
// area. The components, their CRCs, the state and the CRC are set later.
// False (trace record) when an area would pass the end of the block or an area of the active
// block lies outside it.
bool buildNewNcb(ConstHalvernNcb activeNcb, HalvernNcb newNcb, uint32_t newNcbAddress,
                 const UpdateData& updateData);

}  // namespace hlv
