// Checking a control block: its CRC, the windows of its descriptors, validation, and the active
// block of an image.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/ncb.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

// NCB0 of a default image: active, valid, components in bank A. Exactly one block long, so a
// read past its end is caught by the sanitizer build.
std::vector<uint8_t> validBlock() {
  const std::vector<uint8_t> image = image::buildImage(image::ImageSpec());
  return {image.begin(), image.begin() + kNcbBlockSize};
}

TEST(CheckNcbCrc, NeedsARangeInsideTheBlock) {
  struct Case {
    const char* what;
    uint16_t size;
    uint16_t storedCrc;
    bool passes;
  };
  const Case cases[] = {
      {"size 3 has no range", 3, 0, false},
      {"size 4 has an empty range with CRC 0", 4, 0, true},
      {"size 4 with another CRC", 4, 1, false},
      {"size one past the block", 0x4001, 0, false},
      {"largest size field", 0xFFFF, 0, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block = validBlock();
    const HalvernNcb ncb(block.data());
    ncb.setSize(c.size);
    ncb.setCrc(c.storedCrc);
    EXPECT_EQ(checkNcbCrc(ncb), c.passes) << c.what;
  }
  std::vector<uint8_t> block = validBlock();
  EXPECT_TRUE(checkNcbCrc(HalvernNcb(block.data())));
  block[0x0C00] ^= 1;  // inside areaD, below size
  EXPECT_FALSE(checkNcbCrc(HalvernNcb(block.data())));
}

TEST(CheckNcbCrc, WholeBlockRangeIsAccepted) {
  std::vector<uint8_t> block = validBlock();
  const HalvernNcb ncb(block.data());
  ncb.setSize(0x4000);
  ASSERT_TRUE(updateNcbCrc(ncb));
  EXPECT_TRUE(checkNcbCrc(ncb));
}

TEST(CheckNcbStructure, EveryDescriptorMustLieInItsWindow) {
  struct Case {
    const char* what;
    std::function<void(HalvernNcb)> change;
    bool passes;
  };
  auto area = [](NcbArea which, uint16_t offset, uint16_t length) {
    return [=](HalvernNcb n) { n.setArea(which, {offset, length}); };
  };
  auto component = [](NcbComponent which, uint32_t offset, uint32_t size) {
    return [=](HalvernNcb n) { n.setComponent(which, {offset, size}); };
  };
  auto free = [](uint32_t offset, uint32_t size) {
    return [=](HalvernNcb n) { n.setFreeArea({offset, size}); };
  };
  const Case cases[] = {
      {"as built", [](HalvernNcb) {}, true},
      {"size at the block end", [](HalvernNcb n) { n.setSize(0x4000); }, true},
      {"size past the block", [](HalvernNcb n) { n.setSize(0x4001); }, false},
      {"area at 0x71", area(NcbArea::kA, 0x71, 0x10), false},
      {"area at 0x72", area(NcbArea::kA, 0x72, 0x10), true},
      {"area ending at 0x4000", area(NcbArea::kC, 0x3F00, 0x100), true},
      {"area ending at 0x4001", area(NcbArea::kC, 0x3F00, 0x101), false},
      {"absent area", area(NcbArea::kF, 0, 0), true},
      {"areaB with the slot bit", area(NcbArea::kB, 0x4100, 0x20), true},
      {"areaE with bit 14 set", area(NcbArea::kE, 0x4100, 0x20), false},
      {"areaD past the block", area(NcbArea::kD, 0x3FF0, 0x20), false},
      {"component ending at 0x200000", component(NcbComponent::kRom, 0x1FF000, 0x1000), true},
      {"component ending past 0x200000", component(NcbComponent::kRom, 0x1FF000, 0x1001), false},
      {"component starting at 0x7FFF", component(NcbComponent::kMacPart1, 0x7FFF, 0x10), false},
      {"component starting at 0x8000", component(NcbComponent::kMacPart1, 0x8000, 0x10), true},
      {"component starting beyond the flash", component(NcbComponent::kPhyPart2, 0x200001, 0),
       false},
      {"huge component", component(NcbComponent::kMacPart2, 0xFFFFFF, 0xFFFFFF), false},
      {"absent component", component(NcbComponent::kPhyPart2, 0, 0), true},
      {"free area filling bank B", free(0x104000, 0xFC000), true},
      {"free area inside the blocks", free(0x4000, 0x1000), false},
      {"free area past the flash", free(0x1F0000, 0x20000), false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block = validBlock();
    const HalvernNcb ncb(block.data());
    c.change(ncb);
    EXPECT_EQ(checkNcbStructure(ncb), c.passes) << c.what;
  }
}

TEST(ValidateNcb, ChecksActiveBlocksOrForcedOnesAndRefusesMarkedBlocks) {
  struct Case {
    const char* what;
    std::function<void(HalvernNcb)> change;
    bool force;
    FlashUpdateStatus status;
  };
  const Case cases[] = {
      {"valid active block", [](HalvernNcb) {}, false, kStatusSuccess},
      {"unprogrammed free-area start",
       [](HalvernNcb n) {
         n.setFreeArea({0xFFFFFF, 0});
       },
       false, kStatusNcbNotUsable},
      {"bad CRC", [](HalvernNcb n) { n.setCrc(n.crc() ^ 1); }, false, kStatusNcbInvalid},
      {"size past the block", [](HalvernNcb n) { n.setSize(0x4001); }, false, kStatusNcbInvalid},
      {"bad structure (CRC resealed)",
       [](HalvernNcb n) {
         n.setComponent(NcbComponent::kRom, {0x7000, 0x10});
         updateNcbCrc(n);
       },
       false, kStatusNcbInvalid},
      {"magic word (CRC resealed)",
       [](HalvernNcb n) {
         n.setMagicWord(kNcbMagic);
         updateNcbCrc(n);
       },
       false, kStatusNcbNotUsable},
      {"inactive block with a bad CRC",
       [](HalvernNcb n) {
         n.setState(NcbState::kDeactivated);
         n.setCrc(n.crc() ^ 1);
       },
       false, kStatusSuccess},
      {"inactive block with a bad CRC, forced",
       [](HalvernNcb n) {
         n.setState(NcbState::kDeactivated);
         n.setCrc(n.crc() ^ 1);
       },
       true, kStatusNcbInvalid},
      {"inactive block with the magic word",
       [](HalvernNcb n) {
         n.setState(NcbState::kNotActive);
         n.setMagicWord(kNcbMagic);
       },
       false, kStatusNcbNotUsable},
      {"erased block, forced",
       [](HalvernNcb n) { std::fill(n.data(), n.data() + kNcbBlockSize, 0xFF); }, true,
       kStatusNcbNotUsable},
      {"erased block", [](HalvernNcb n) { std::fill(n.data(), n.data() + kNcbBlockSize, 0xFF); },
       false, kStatusSuccess},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block = validBlock();
    const HalvernNcb ncb(block.data());
    c.change(ncb);
    EXPECT_EQ(validateNcb(ncb, c.force), c.status) << c.what;
  }
}

TEST(FindActiveImageNcb, TakesTheFirstActiveBlockWhoseCrcHolds) {
  struct Case {
    const char* what;
    std::function<void(image::ImageSpec&)> change;
    std::optional<uint32_t> found;
  };
  const Case cases[] = {
      {"NCB0 active", [](image::ImageSpec&) {}, kNcb0Address},
      {"both active", [](image::ImageSpec& s) { s.ncbs[1].erased = false; }, kNcb0Address},
      {"NCB0 active with a bad CRC, NCB1 good",
       [](image::ImageSpec& s) {
         s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad;
         s.ncbs[1].erased = false;
       },
       kNcb1Address},
      {"only NCB1 active",
       [](image::ImageSpec& s) {
         s.ncbs[0].state = NcbState::kDeactivated;
         s.ncbs[1].erased = false;
       },
       kNcb1Address},
      {"NCB1 active as 0b01",
       [](image::ImageSpec& s) {
         s.ncbs[0].erased = true;
         s.ncbs[1].erased = false;
         s.ncbs[1].state = NcbState::kActiveAlternate;
       },
       kNcb1Address},
      {"none active", [](image::ImageSpec& s) { s.ncbs[0].state = NcbState::kNotActive; },
       std::nullopt},
      {"both active with bad CRCs",
       [](image::ImageSpec& s) {
         s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad;
         s.ncbs[1].erased = false;
         s.ncbs[1].ncbCrc.kind = image::CrcSpec::Kind::kBad;
       },
       std::nullopt},
      {"active NCB0 whose size passes the block",
       [](image::ImageSpec& s) { s.ncbs[0].sizeField = 0x8000; }, std::nullopt},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec;
    c.change(spec);
    const std::vector<uint8_t> image = image::buildImage(spec);
    const auto found = findActiveImageNcb(image);
    if (!c.found) {
      EXPECT_FALSE(found) << c.what;
      continue;
    }
    ASSERT_TRUE(found) << c.what;
    EXPECT_EQ(found->data(), image.data() + *c.found) << c.what;
  }
}

TEST(FindActiveImageNcb, ABufferWithoutBothBlocksHasNone) {
  std::vector<uint8_t> image = image::buildImage(image::ImageSpec());
  image.resize(2 * kNcbBlockSize - 1);
  EXPECT_FALSE(findActiveImageNcb(image));
  image.clear();
  EXPECT_FALSE(findActiveImageNcb(image));
}

}  // namespace
}  // namespace hlv
