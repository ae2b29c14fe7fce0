// Where a control block puts its regions: region starts, overlaps, banks and the room the
// components take.
#include "engine/ncb_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace hlv {
namespace {

// A block describing the given regions (MAC 1, MAC 2, PHY 1, PHY 2, ROM) and free area.
class LayoutBlock {
 public:
  LayoutBlock(std::array<NcbRegion, 5> components, NcbRegion freeArea = {})
      : bytes_(kNcbBlockSize, 0) {
    for (std::size_t i = 0; i < components.size(); ++i)
      ncb().setComponent(kAllNcbComponents[i], components[i]);
    ncb().setFreeArea(freeArea);
  }
  HalvernNcb ncb() { return HalvernNcb(bytes_.data()); }

 private:
  std::vector<uint8_t> bytes_;
};

// Bank A packed from its start.
const std::array<NcbRegion, 5> kBankAComponents = {{{0x8000, 0x8000},
                                                    {0x10000, 0x10000},
                                                    {0x20000, 0x4000},
                                                    {0x24000, 0x2000},
                                                    {0x26000, 0x4000}}};
const std::array<NcbRegion, 5> kBankBComponents = {{{0x104000, 0x8000},
                                                    {0x10C000, 0x10000},
                                                    {0x11C000, 0x4000},
                                                    {0x120000, 0x2000},
                                                    {0x122000, 0x4000}}};

// One bank's layout with one region replaced.
std::array<NcbRegion, 5> replaced(std::array<NcbRegion, 5> components, std::size_t index,
                                  NcbRegion region) {
  components[index] = region;
  return components;
}
std::array<NcbRegion, 5> withA(std::size_t index, NcbRegion region) {
  return replaced(kBankAComponents, index, region);
}
std::array<NcbRegion, 5> withB(std::size_t index, NcbRegion region) {
  return replaced(kBankBComponents, index, region);
}

TEST(NextRegionStart, FindsTheNearestStartAbove) {
  LayoutBlock block(kBankAComponents, {0x104000, 0xFC000});
  EXPECT_EQ(nextRegionStart(block.ncb(), 0), 0x8000u);
  EXPECT_EQ(nextRegionStart(block.ncb(), 0x8000), 0x10000u);
  EXPECT_EQ(nextRegionStart(block.ncb(), 0x26000), 0x104000u) << "the free area counts";
  EXPECT_EQ(nextRegionStart(block.ncb(), 0x104000), kFlashLayoutSize) << "none above";
  EXPECT_EQ(nextRegionStart(block.ncb(), 0x8000, RegionSet::kLeadingParts), 0x20000u)
      << "the leading parts skip MAC part 2";
}

TEST(ImagesDisjoint, RegionsMayTouchButNotOverlap) {
  struct Case {
    const char* what;
    std::array<NcbRegion, 5> components;
    NcbRegion freeArea;
    bool withFreeArea;
    bool disjoint;
  };
  const Case cases[] = {
      {"packed bank", kBankAComponents, {}, false, true},
      {"packed bank with a free area behind", kBankAComponents, {0x104000, 0xFC000}, true, true},
      {"one byte into the next", withA(0, {0x8000, 0x8001}), {}, false, false},
      {"absent component", withA(4, {0, 0}), {}, false, true},
      {"two components at the same start", withA(1, {0x8000, 0x100}), {}, false, false},
      {"ROM at PHY part 2's start", withA(4, {0x24000, 0x10}), {}, false, false},
      {"empty component at another's start", withA(4, {0x24000, 0}), {}, false, true},
      {"free area overlapping the next component", kBankAComponents, {0x7000, 0x1001}, true, false},
      {"free area at a component's start", kBankAComponents, {0x20000, 0x100}, true, false},
      {"free area at a component's start, not checked",
       kBankAComponents,
       {0x20000, 0x100},
       false,
       false},
      {"component running into the free area",
       withA(4, {0x26000, 0x4000}),
       {0x29000, 0x1000},
       false,
       false},
  };
  for (const Case& c : cases) {
    LayoutBlock block(c.components, c.freeArea);
    EXPECT_EQ(imagesDisjoint(block.ncb(), c.withFreeArea), c.disjoint) << c.what;
  }
}

// The looser bank test: only the starts of MAC part 1, PHY part 1 and the option ROM are walked,
// and from bank B upward nothing can be found below bank B.
TEST(ImagesInOneBank, NoLeadingRegionStartsAcrossTheBorderFromMacPart1sBank) {
  struct Case {
    const char* what;
    std::array<NcbRegion, 5> components;
    NcbRegion freeArea;
    bool inOneBank;
  };
  const Case cases[] = {
      {"bank A", kBankAComponents, {}, true},
      {"bank B", kBankBComponents, {}, true},
      {"bank A with the ROM in bank B", withA(4, {0x150000, 0x1000}), {}, false},
      {"bank A with PHY part 1 in bank B", withA(2, {0x150000, 0x1000}), {}, false},
      {"bank A with a ROM starting at bank B", withA(4, {0x104000, 0x1000}), {}, true},
      {"bank A with a ROM running into bank B", withA(4, {0x103000, 0x2000}), {}, true},
      {"bank A with MAC part 2 in bank B", withA(1, {0x150000, 0x10000}), {}, true},
      {"bank A with its free area in bank B (a transform's source)",
       kBankAComponents,
       {0x110000, 0x1000},
       true},
      {"bank A with its free area at bank B's start", kBankAComponents, {0x104000, 0xFC000}, true},
      {"bank B with PHY part 1 in bank A", withB(2, {0x20000, 0x4000}), {}, true},
      {"bank B with its free area in bank A (a transform's source)",
       kBankBComponents,
       {0x8000, 0xFC000},
       true},
      {"bank B with an absent ROM", withB(4, {0, 0}), {}, true},
  };
  for (const Case& c : cases) {
    LayoutBlock block(c.components, c.freeArea);
    EXPECT_EQ(imagesInOneBank(block.ncb()), c.inOneBank) << c.what;
  }
}

TEST(ComponentsInOwnBank, EveryComponentWhollyInsideTheBlocksBank) {
  struct Case {
    const char* what;
    std::array<NcbRegion, 5> components;
    bool isNcb1;
    bool inOwnBank;
  };
  const Case cases[] = {
      {"NCB0 over bank A", kBankAComponents, false, true},
      {"NCB1 over bank B", kBankBComponents, true, true},
      {"NCB0 over bank B", kBankBComponents, false, false},
      {"NCB1 over bank A", kBankAComponents, true, false},
      {"NCB0 with MAC part 2 in bank B", withA(1, {0x150000, 0x10000}), false, false},
      {"NCB0 with a ROM running into bank B", withA(4, {0x103000, 0x2000}), false, false},
      {"NCB0 with a ROM ending at the border", withA(4, {0x103000, 0x1000}), false, true},
      {"NCB1 with PHY part 2 in bank A", withB(3, {0x20000, 0x2000}), true, false},
      {"NCB1 with a ROM ending at the flash end", withB(4, {0x1FF000, 0x1000}), true, true},
      {"NCB1 with an absent ROM", withB(4, {0, 0}), true, true},
      {"NCB0 with a component at 0 running into bank A", withA(4, {0, 0x9000}), false, false},
  };
  for (const Case& c : cases) {
    LayoutBlock block(c.components, {0x104000, 0x1000});
    EXPECT_EQ(componentsInOwnBank(block.ncb(), c.isNcb1), c.inOwnBank) << c.what;
  }
}

TEST(IsType2Layout, ComponentsInTheBlocksOwnBankOrNoFreeArea) {
  struct Case {
    const char* what;
    std::array<NcbRegion, 5> components;
    NcbRegion freeArea;
    bool isNcb1;
    bool type2;
  };
  std::array<NcbRegion, 5> bankAWithoutRom = kBankAComponents;
  bankAWithoutRom[4] = {0, 0};
  const Case cases[] = {
      {"no free area, components anywhere", kBankBComponents, {}, false, true},
      {"free size 0", kBankBComponents, {0x104000, 0}, false, true},
      {"free offset 0", kBankBComponents, {0, 0x1000}, false, true},
      {"NCB0 over bank A with a free area", kBankAComponents, {0x104000, 0xFC000}, false, true},
      {"NCB0 over bank B with a free area", kBankBComponents, {0x8000, 0xFC000}, false, false},
      {"NCB1 over bank B with a free area", kBankBComponents, {0x8000, 0xFC000}, true, true},
      {"NCB1 over bank A with a free area", kBankAComponents, {0x104000, 0xFC000}, true, false},
      {"absent component and a free area", bankAWithoutRom, {0x104000, 0xFC000}, false, true},
  };
  for (const Case& c : cases) {
    LayoutBlock block(c.components, c.freeArea);
    EXPECT_EQ(isType2Layout(block.ncb(), c.isNcb1), c.type2) << c.what;
  }
}

TEST(RequiredBankSize, RoundsEachComponentToAPage) {
  LayoutBlock block({{{0x8000, 0x101}, {0x9000, 0x100}, {0, 0}, {0xA000, 1}, {0xB000, 0x200}}});
  EXPECT_EQ(requiredBankSize(block.ncb(), 0x100), 0x200u + 0x100 + 0 + 0x100 + 0x200);
  EXPECT_EQ(requiredBankSize(block.ncb(), 0x200), 0x200u + 0x200 + 0 + 0x200 + 0x200);
}

}  // namespace
}  // namespace hlv
