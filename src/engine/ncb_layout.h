// Questions about where a control block puts its regions: the firmware components and the
// free area (the spare region of the type-1 layout).
#pragma once

#include <cstdint>

#include "shared/halvern_ncb.h"

namespace hlv {

// Which regions nextRegionStart looks at: all five components and the free area, or only the
// first part of each component (MAC part 1, PHY part 1, the option ROM) and the free area.
enum class RegionSet : uint8_t { kAll, kLeadingParts };

// The smallest region start above `address`, or kFlashLayoutSize when there is none.
uint32_t nextRegionStart(ConstHalvernNcb ncb, uint32_t address, RegionSet set = RegionSet::kAll);

// No two components overlap (with `withFreeArea`, nor the free area with anything): each ends
// at or before the next region's start, and no two present regions start at the same address.
// Regions that merely touch are disjoint.
bool imagesDisjoint(ConstHalvernNcb ncb, bool withFreeArea);

// Every present component and the free area lie inside one bank: bank A when MAC part 1
// starts below bank B, else bank B.
bool imagesInOneBank(ConstHalvernNcb ncb);

// The block fits the type-2 layout: it has no free area, or every present component lies
// inside the block's own bank (bank A for NCB0, bank B for NCB1). Absent components are
// skipped.
bool isType2Layout(ConstHalvernNcb ncb, bool isNcb1);

// Room the five components take in a bank when each starts on a page.
uint32_t requiredBankSize(ConstHalvernNcb ncb, uint32_t pageSize);

}  // namespace hlv
