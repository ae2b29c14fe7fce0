// The layout helpers: alignment, all-zero buffers and half-open address ranges.
#include "engine/flash_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace hlv {
namespace {

TEST(Align, RoundsToTheUnitAndLeavesAZeroUnitAlone) {
  struct Case {
    uint32_t value;
    uint32_t unit;
    uint32_t up;
    uint32_t down;
  };
  const Case cases[] = {
      {0x1000, 0x100, 0x1000, 0x1000},
      {0x1001, 0x100, 0x1100, 0x1000},
      {0, 0x1000, 0, 0},
      {0x10FF, 0x1000, 0x2000, 0x1000},
      {0x104000, 0x10000, 0x110000, 0x100000},
      {0xFFFFFF00, 0x100, 0xFFFFFF00, 0xFFFFFF00},
      {0x12345, 0, 0x12345, 0x12345},  // a part that reports no unit
      {7, 3, 9, 6},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(alignUp(c.value, c.unit), c.up) << std::hex << c.value << " / " << c.unit;
    EXPECT_EQ(alignDown(c.value, c.unit), c.down) << std::hex << c.value << " / " << c.unit;
  }
}

TEST(IsEmpty, LooksAtExactlyTheGivenBytes) {
  std::vector<uint8_t> bytes(385, 0);
  bytes[384] = 1;
  EXPECT_TRUE(isEmpty(bytes.data(), 1));
  EXPECT_TRUE(isEmpty(bytes.data(), 384)) << "the non-zero byte lies outside";
  EXPECT_FALSE(isEmpty(bytes.data(), 385));
  bytes[0] = 1;
  EXPECT_FALSE(isEmpty(bytes.data(), 1));
  bytes[0] = 0;
  bytes[200] = 0x80;
  EXPECT_FALSE(isEmpty(bytes.data(), 384));
}

TEST(AddressRange, IsHalfOpen) {
  const AddressRange one(5, 1);
  EXPECT_TRUE(one.contains(5));
  EXPECT_FALSE(one.contains(4));
  EXPECT_FALSE(one.contains(6));
  EXPECT_TRUE(AddressRange(0x8000, 0xFC000).inside(kBankA));
  EXPECT_FALSE(AddressRange(0x8000, 0xFC001).inside(kBankA));
  EXPECT_FALSE(AddressRange(0x103FFF, 1).overlaps(kBankB)) << "touching is not overlapping";
  EXPECT_TRUE(AddressRange(0x103FFF, 2).overlaps(kBankB));
}

TEST(LayoutHelpersDeathTest, EmptyOrWrappingRangesAndMissingBuffersAreProgrammingErrors) {
  EXPECT_DEATH(AddressRange(5, 0), "valid\\(\\)");
  EXPECT_DEATH(AddressRange(0xFFFFFFFF, 2), "valid\\(\\)");
  uint8_t byte = 0;
  EXPECT_DEATH(isEmpty(nullptr, 1), "buffer && length != 0");
  EXPECT_DEATH(isEmpty(&byte, 0), "buffer && length != 0");
  EXPECT_DEATH(alignUp(0xFFFFFFFF, 0x100), "aligned <= UINT32_MAX");
}

}  // namespace
}  // namespace hlv
