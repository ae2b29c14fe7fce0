// Layout constants of the update engine and the small range and alignment helpers it uses.
// The flash map itself (block addresses, banks) is defined with the control-block format.
#pragma once

#include <cstdint>

#include "platform/hlv_assert.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// A newly built block packs its in-block areas from here, each starting on kNcbAreaAlignment.
inline constexpr uint32_t kNcbFirstNewArea = 0x800;
inline constexpr uint32_t kNcbAreaAlignment = 0x100;
// MAC part 2 must hold at least the firmware header for the version to be read from it.
inline constexpr uint32_t kMinMacPart2Size = 0x128;
// The signing-key block carried in MAC part 2.
inline constexpr uint32_t kKeyBlockOffset = 0xFE80;
inline constexpr uint32_t kKeyBlockSize = 384;

// A half-open range of flash addresses [start, end). Built from a start and a length; an empty
// or wrapping range is a programming error, so callers build one only for a present region.
struct AddressRange {
  constexpr AddressRange(uint32_t rangeStart, uint32_t length)
      : start(rangeStart), end(rangeStart + length) {
    HLV_ASSERT(valid());
  }
  constexpr bool valid() const { return start < end; }
  bool contains(uint32_t address) const { return address >= start && address < end; }
  bool inside(const AddressRange& outer) const { return start >= outer.start && end <= outer.end; }
  bool overlaps(const AddressRange& other) const { return start < other.end && other.start < end; }

  uint32_t start;
  uint32_t end;
};

// Bank A and bank B as ranges.
inline constexpr AddressRange kBankA{kBankAStart, kBankLength};
inline constexpr AddressRange kBankB{kBankBStart, kBankLength};

// True when every byte is zero. The buffer must be present and not empty.
bool isEmpty(const uint8_t* buffer, uint32_t length);

// The value rounded up (down) to a multiple of unit. A unit of 0 leaves the value as it is, so
// a part that reports no unit is never divided by. alignUp must not pass 2^32 - 1 (callers work
// with flash addresses far below it; passing it is a programming error).
uint32_t alignUp(uint32_t value, uint32_t unit);
uint32_t alignDown(uint32_t value, uint32_t unit);

}  // namespace hlv
