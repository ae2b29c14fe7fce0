// The control block's byte layout: every field at its offset, the state and tag sharing a byte,
// and views only over whole blocks.
#include "shared/halvern_ncb.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "shared/crc16.h"

namespace hlv {
namespace {

std::vector<uint8_t> bytesAt(const std::vector<uint8_t>& block, uint32_t offset, uint32_t n) {
  return {block.begin() + offset, block.begin() + offset + n};
}

// Each field is written through its setter into a zeroed block; exactly the listed bytes change
// and the getter gives the value back.
TEST(HalvernNcb, EveryFieldSitsAtItsByteOffsetLittleEndian) {
  struct Case {
    const char* field;
    std::function<void(HalvernNcb)> set;
    std::function<uint32_t(ConstHalvernNcb)> get;
    uint32_t value;
    uint32_t offset;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"crc",
       [](HalvernNcb n) { n.setCrc(0xBEEF); },
       [](ConstHalvernNcb n) { return n.crc(); },
       0xBEEF,
       0x00,
       {0xEF, 0xBE}},
      {"imageTag",
       [](HalvernNcb n) { n.setImageTag(0x3ABC); },
       [](ConstHalvernNcb n) { return n.imageTag(); },
       0x3ABC,
       0x02,
       {0xBC, 0x3A}},
      {"imageVersion",
       [](HalvernNcb n) { n.setImageVersion(0x030A05); },
       [](ConstHalvernNcb n) { return n.imageVersion(); },
       0x030A05,
       0x04,
       {0x05, 0x0A, 0x03}},
      {"size",
       [](HalvernNcb n) { n.setSize(0x0C18); },
       [](ConstHalvernNcb n) { return n.size(); },
       0x0C18,
       0x08,
       {0x18, 0x0C}},
      {"areaA",
       [](HalvernNcb n) {
         n.setArea(NcbArea::kA, {0x0800, 0x0040});
       },
       [](ConstHalvernNcb n) { return n.areaA().offset << 16 | n.areaA().length; },
       0x08000040,
       0x20,
       {0x00, 0x08, 0x40, 0x00}},
      {"areaB",
       [](HalvernNcb n) {
         n.setArea(NcbArea::kB, {0x4900, 0x0020});
       },
       [](ConstHalvernNcb n) { return n.areaB().offset << 16 | n.areaB().length; },
       0x49000020,
       0x24,
       {0x00, 0x49, 0x20, 0x00}},
      {"areaC",
       [](HalvernNcb n) {
         n.setArea(NcbArea::kC, {0x0A00, 0x0001});
       },
       [](ConstHalvernNcb n) { return n.areaC().offset << 16 | n.areaC().length; },
       0x0A000001,
       0x28,
       {0x00, 0x0A, 0x01, 0x00}},
      {"macPart1",
       [](HalvernNcb n) {
         n.setComponent(NcbComponent::kMacPart1, {0x123456, 7});
       },
       [](ConstHalvernNcb n) { return n.macPart1Offset(); },
       0x123456,
       0x2C,
       {0x56, 0x34, 0x12, 0x07, 0x00, 0x00}},
      {"macPart2",
       [](HalvernNcb n) {
         n.setComponent(NcbComponent::kMacPart2, {0x010000, 0xABCDEF});
       },
       [](ConstHalvernNcb n) { return n.macPart2Size(); },
       0xABCDEF,
       0x32,
       {0x00, 0x00, 0x01, 0xEF, 0xCD, 0xAB}},
      {"macCrc",
       [](HalvernNcb n) { n.setMacCrc(0x1234); },
       [](ConstHalvernNcb n) { return n.macCrc(); },
       0x1234,
       0x3A,
       {0x34, 0x12}},
      {"phyPart1",
       [](HalvernNcb n) {
         n.setComponent(NcbComponent::kPhyPart1, {0x020000, 0x4000});
       },
       [](ConstHalvernNcb n) { return n.phyPart1Size(); },
       0x4000,
       0x40,
       {0x00, 0x00, 0x02, 0x00, 0x40, 0x00}},
      {"phyPart2",
       [](HalvernNcb n) {
         n.setComponent(NcbComponent::kPhyPart2, {0x024000, 0x2000});
       },
       [](ConstHalvernNcb n) { return n.phyPart2Offset(); },
       0x024000,
       0x46,
       {0x00, 0x40, 0x02, 0x00, 0x20, 0x00}},
      {"phyCrc",
       [](HalvernNcb n) { n.setPhyCrc(0xA1B2); },
       [](ConstHalvernNcb n) { return n.phyCrc(); },
       0xA1B2,
       0x52,
       {0xB2, 0xA1}},
      {"rom",
       [](HalvernNcb n) {
         n.setComponent(NcbComponent::kRom, {0x1FF000, 0x1000});
       },
       [](ConstHalvernNcb n) { return n.romOffset(); },
       0x1FF000,
       0x54,
       {0x00, 0xF0, 0x1F, 0x00, 0x10, 0x00}},
      {"romCrc",
       [](HalvernNcb n) { n.setRomCrc(0x0102); },
       [](ConstHalvernNcb n) { return n.romCrc(); },
       0x0102,
       0x5A,
       {0x02, 0x01}},
      {"freeArea",
       [](HalvernNcb n) {
         n.setFreeArea({0x104000, 0xFC000});
       },
       [](ConstHalvernNcb n) { return n.freeSize(); },
       0xFC000,
       0x5C,
       {0x00, 0x40, 0x10, 0x00, 0xC0, 0x0F}},
      {"areaD",
       [](HalvernNcb n) {
         n.setArea(NcbArea::kD, {0x0C00, 0x0018});
       },
       [](ConstHalvernNcb n) { return n.areaD().offset << 16 | n.areaD().length; },
       0x0C000018,
       0x64,
       {0x00, 0x0C, 0x18, 0x00}},
      {"areaE",
       [](HalvernNcb n) {
         n.setArea(NcbArea::kE, {0x0B00, 0x000C});
       },
       [](ConstHalvernNcb n) { return n.areaE().offset << 16 | n.areaE().length; },
       0x0B00000C,
       0x68,
       {0x00, 0x0B, 0x0C, 0x00}},
      {"areaF",
       [](HalvernNcb n) {
         n.setArea(NcbArea::kF, {0x3F00, 0x0100});
       },
       [](ConstHalvernNcb n) { return n.areaF().offset << 16 | n.areaF().length; },
       0x3F000100,
       0x6C,
       {0x00, 0x3F, 0x00, 0x01}},
      {"magic",
       [](HalvernNcb n) { n.setMagicWord(kNcbMagic); },
       [](ConstHalvernNcb n) { return n.magicWord(); },
       kNcbMagic,
       0x70,
       {0x55, 0xAA, 0x55, 0xAA}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block(kNcbBlockSize, 0);
    const HalvernNcb ncb(block.data());
    c.set(ncb);
    EXPECT_EQ(c.get(ncb), c.value) << c.field;
    EXPECT_EQ(bytesAt(block, c.offset, static_cast<uint32_t>(c.bytes.size())), c.bytes) << c.field;
    // Nothing else changed.
    std::vector<uint8_t> others = block;
    std::fill_n(others.begin() + c.offset, c.bytes.size(), 0);
    EXPECT_EQ(others, std::vector<uint8_t>(kNcbBlockSize, 0)) << c.field;
  }
}

TEST(HalvernNcb, StateAndImageTagShareAByteWithoutDisturbingEachOther) {
  std::vector<uint8_t> block(kNcbBlockSize, 0xFF);
  const HalvernNcb ncb(block.data());
  EXPECT_EQ(ncb.state(), NcbState::kNotActive) << "erased flash";
  EXPECT_FALSE(ncb.active());

  ncb.setImageTag(0x0155);
  EXPECT_EQ(ncb.state(), NcbState::kNotActive);
  ncb.setState(NcbState::kActive);
  EXPECT_EQ(ncb.imageTag(), 0x0155);
  EXPECT_EQ(block[3], 0x81);
  EXPECT_TRUE(ncb.active());
  ncb.setState(NcbState::kActiveAlternate);
  EXPECT_TRUE(ncb.active()) << "0b01 counts as active";
  ncb.setState(NcbState::kDeactivated);
  EXPECT_FALSE(ncb.active());
  EXPECT_EQ(ncb.imageTag(), 0x0155);
}

TEST(HalvernNcb, AreaBOffsetInBlockDropsTheSlotBit) {
  std::vector<uint8_t> block(kNcbBlockSize, 0);
  const HalvernNcb ncb(block.data());
  ncb.setArea(NcbArea::kB, {0x4100, 0x20});
  ncb.setArea(NcbArea::kC, {0x4100, 0x20});
  EXPECT_EQ(ncb.areaOffsetInBlock(NcbArea::kB), 0x0100);
  EXPECT_EQ(ncb.areaOffsetInBlock(NcbArea::kC), 0x4100) << "only areaB carries the slot bit";
}

TEST(HalvernNcb, ViewsOnlyExistOverWholeBlocks) {
  std::vector<uint8_t> buffer(2 * kNcbBlockSize - 1, 0);
  EXPECT_TRUE(HalvernNcb::inBuffer(buffer, 0));
  EXPECT_FALSE(HalvernNcb::inBuffer(buffer, kNcbBlockSize)) << "one byte short";
  EXPECT_FALSE(HalvernNcb::inBuffer(buffer, buffer.size() + 1));
  EXPECT_FALSE(ConstHalvernNcb::inBuffer(std::span<const uint8_t>(), 0));

  const HalvernNcb writable(buffer.data());
  const ConstHalvernNcb readOnly = writable;
  EXPECT_EQ(readOnly.data(), buffer.data());
}

TEST(HalvernNcb, ComputedCrcCoversBytesFourToSize) {
  std::vector<uint8_t> block(kNcbBlockSize, 0x11);
  const HalvernNcb ncb(block.data());
  struct Case {
    const char* what;
    uint16_t size;
    bool hasRange;
  };
  const Case cases[] = {
      {"size 3 gives no range", 3, false},   {"size 4 gives an empty range", 4, true},
      {"part of the block", 0x0C18, true},   {"whole block", 0x4000, true},
      {"one past the block", 0x4001, false}, {"largest field value", 0xFFFF, false},
  };
  for (const Case& c : cases) {
    ncb.setSize(c.size);
    if (c.hasRange) {
      // The size field itself lies inside the range.
      const uint16_t expected = crc16(block.data() + 4, c.size - 4u);
      EXPECT_EQ(computeNcbCrc(ncb), expected) << c.what;
      EXPECT_TRUE(updateNcbCrc(ncb)) << c.what;
      EXPECT_EQ(ncb.crc(), expected) << c.what;
    } else {
      EXPECT_EQ(computeNcbCrc(ncb), std::nullopt) << c.what;
      EXPECT_FALSE(updateNcbCrc(ncb)) << c.what;
    }
  }
}

TEST(HalvernNcbDeathTest, ThreeByteFieldsRefuseValuesAbove24Bits) {
  std::vector<uint8_t> block(kNcbBlockSize, 0);
  EXPECT_DEATH(HalvernNcb::setByteArrayValue_(block.data() + 0x2C, 0x1000000),
               "\\(value & 0xff000000\\) == 0");
  HalvernNcb::setByteArrayValue_(block.data() + 0x2C, 0xFFFFFF);
  EXPECT_EQ(HalvernNcb(block.data()).macPart1Offset(), 0xFFFFFFu);
}

}  // namespace
}  // namespace hlv
