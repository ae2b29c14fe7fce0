#include "engine/ncb_layout.h"

#include <array>

#include "engine/block_roles.h"
#include "engine/flash_layout.h"
#include "engine/ncb_layout_trace.h"

namespace hlv {
namespace tp = trace_points::ncb_layout;

namespace {

// Index of the free area next to the component indices in trace records.
constexpr uint8_t kFreeAreaIndex = static_cast<uint8_t>(kAllNcbComponents.size());

bool isLeadingPart(NcbComponent component) {
  return component == NcbComponent::kMacPart1 || component == NcbComponent::kPhyPart1 ||
         component == NcbComponent::kRom;
}

// The region holds bytes.
bool present(NcbRegion region) {
  return region.size != 0;
}

}  // namespace

uint32_t nextRegionStart(ConstHalvernNcb ncb, uint32_t address, RegionSet set) {
  uint32_t next = kFlashLayoutSize;
  auto consider = [&](uint32_t start) {
    if (start > address && start < next) next = start;
  };
  for (NcbComponent component : kAllNcbComponents) {
    if (set == RegionSet::kAll || isLeadingPart(component))
      consider(ncb.component(component).offset);
  }
  consider(ncb.freeOffset());
  return next;
}

bool imagesDisjoint(ConstHalvernNcb ncb, bool withFreeArea) {
  std::array<NcbRegion, 6> regions{};
  std::size_t count = 0;
  for (NcbComponent component : kAllNcbComponents)
    regions[count++] = ncb.component(component);
  if (withFreeArea) regions[count++] = ncb.freeArea();

  for (std::size_t i = 0; i < count; ++i) {
    const NcbRegion region = regions[i];
    const uint32_t next = nextRegionStart(ncb, region.offset);
    if (region.end() > next) {
      trace::emit(tp::kOverlap, static_cast<uint8_t>(i), region.offset, region.size, next);
      return false;
    }
  }
  // The next start above a region cannot see a second region at the same start.
  const NcbRegion freeArea = ncb.freeArea();
  for (std::size_t i = 0; i < count; ++i) {
    if (!present(regions[i])) continue;
    for (std::size_t j = i + 1; j < count; ++j) {
      if (present(regions[j]) && regions[j].offset == regions[i].offset) {
        trace::emit(tp::kSameStart, static_cast<uint8_t>(i), static_cast<uint8_t>(j),
                    regions[i].offset);
        return false;
      }
    }
    if (!withFreeArea && present(freeArea) && freeArea.offset != 0 &&
        freeArea.offset == regions[i].offset) {
      trace::emit(tp::kSameStart, static_cast<uint8_t>(i), kFreeAreaIndex, regions[i].offset);
      return false;
    }
  }
  trace::emit(tp::kDisjoint, withFreeArea);
  return true;
}

bool imagesInOneBank(ConstHalvernNcb ncb) {
  const bool bankA = ncb.macPart1Offset() < kBankBStart;
  const uint32_t bank = bankA ? kBankAStart : kBankBStart;
  // Walked upward from the bank's start, as the starts are found one after the other.
  for (NcbComponent component : kAllNcbComponents) {
    if (!isLeadingPart(component)) continue;
    const uint32_t start = ncb.component(component).offset;
    if (start <= bank) continue;  // below the walk's start: never found
    if (bankA && start > kBankBStart) {
      trace::emit(tp::kOutsideBank, start, bank);
      return false;
    }
  }
  trace::emit(tp::kInOneBank, bank);
  return true;
}

bool componentsInOwnBank(ConstHalvernNcb ncb, bool isNcb1) {
  const AddressRange bank = NcbSlot::fromIsNcb1(isNcb1).bank();
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb.component(component);
    if (!present(region)) continue;
    if (!AddressRange(region.offset, region.size).inside(bank)) {
      trace::emit(tp::kNotInOwnBank, static_cast<uint8_t>(component), region.offset, region.size,
                  bank.start);
      return false;
    }
  }
  trace::emit(tp::kInOwnBank, static_cast<uint8_t>(isNcb1 ? 1 : 0));
  return true;
}

bool isType2Layout(ConstHalvernNcb ncb, bool isNcb1) {
  const uint8_t slot = isNcb1 ? 1 : 0;
  if (ncb.freeSize() == 0 || ncb.freeOffset() == 0) {
    trace::emit(tp::kType2, ncb.freeOffset(), ncb.freeSize(), slot);
    return true;
  }
  const AddressRange bank = NcbSlot::fromIsNcb1(isNcb1).bank();
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb.component(component);
    if (!present(region)) continue;
    if (!AddressRange(region.offset, region.size).inside(bank)) {
      trace::emit(tp::kNotType2, static_cast<uint8_t>(component), region.offset, region.size,
                  bank.start);
      return false;
    }
  }
  trace::emit(tp::kType2, ncb.freeOffset(), ncb.freeSize(), slot);
  return true;
}

uint32_t requiredBankSize(ConstHalvernNcb ncb, uint32_t pageSize) {
  uint32_t required = 0;
  for (NcbComponent component : kAllNcbComponents)
    required += alignUp(ncb.component(component).size, pageSize);
  trace::emit(tp::kRequired, required, pageSize);
  return required;
}

}  // namespace hlv
