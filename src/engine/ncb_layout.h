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

// The looser bank test: when MAC part 1 starts below bank B, no start of MAC part 1, PHY part 1
// or the option ROM lies above bank B's start; otherwise no such start lies below it, which
// walking the starts upward from bank B cannot find. Second parts, region ends and the free
// area are not looked at: a block an interrupted transform leaves active beside the new one is
// its source, whose free area lies in the other bank.
bool imagesInOneBank(ConstHalvernNcb ncb);

// Every present component lies wholly inside the block's own bank: bank A for NCB0, bank B for
// NCB1. The free area is not looked at.
bool componentsInOwnBank(ConstHalvernNcb ncb, bool isNcb1);

// The block fits the type-2 layout: it has no free area, or every present component lies
// inside the block's own bank (bank A for NCB0, bank B for NCB1). Absent components are
// skipped.
bool isType2Layout(ConstHalvernNcb ncb, bool isNcb1);

// Room the five components take in a bank when each starts on a page.
uint32_t requiredBankSize(ConstHalvernNcb ncb, uint32_t pageSize);

}  // namespace hlv
