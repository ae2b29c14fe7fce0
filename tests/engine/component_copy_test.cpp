// Copying the firmware components into the other bank, from the flash or from an update image,
// and recording them in the other block.
#include "engine/component_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <optional>
#include <vector>

#include "tests/engine/flash_doubles.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::FlashDecorator;
using Kind = test::FlashCall::Kind;

// A type-1 flash with small components in bank B and bank A free; the copies go to bank A.
class ComponentCopyTest : public ::testing::Test {
 protected:
  ComponentCopyTest() : target_(kNcbBlockSize, 0) {
    spec_ = image::typeOneFlashSpec();
    spec_.ncbs[0].sizes = {0x300, 0x1000, 0x200, 0x100, 0x180};
    spec_.ncbs[0].imageTag = 0x2A5;
    spec_.ncbs[0].imageVersion = 0x050607;
    nonactive().setState(NcbState::kNotActive);
  }

  void load() {
    image_ = image::buildImage(spec_);
    emulated_.load(image_);
  }
  ConstHalvernNcb active() const { return ConstHalvernNcb(image_.data()); }
  HalvernNcb nonactive() { return HalvernNcb(target_.data()); }
  std::vector<uint8_t> flashBytes(uint32_t address, uint32_t length) const {
    const auto flash = emulated_.adapter.flash();
    return {flash.begin() + address, flash.begin() + address + length};
  }
  std::vector<uint8_t> imageBytes(NcbRegion region) const {
    return {image_.begin() + region.offset, image_.begin() + region.end()};
  }
  void TearDown() override { EXPECT_EQ(emulated_.violations(), 0u); }

  image::ImageSpec spec_;
  std::vector<uint8_t> image_;
  std::vector<uint8_t> target_;
  test::EmulatedFlash emulated_;
};

TEST_F(ComponentCopyTest, CopiesEachComponentBehindTheCursorAndRecordsItInTheOtherBlock) {
  load();
  uint32_t cursor = kBankAStart;
  ASSERT_EQ(copyMacFW(*emulated_.flash, active(), nonactive(), cursor), kStatusSuccess);
  EXPECT_EQ(cursor, kBankAStart + 0x300 + 0x1000);
  ASSERT_EQ(copyPhyFW(*emulated_.flash, active(), nonactive(), cursor), kStatusSuccess);
  EXPECT_EQ(cursor, kBankAStart + 0x1300 + 0x200 + 0x100);
  ASSERT_EQ(copyPciRom(*emulated_.flash, active(), nonactive(), cursor), kStatusSuccess);
  EXPECT_EQ(cursor, kBankAStart + 0x1600 + 0x200) << "rounded up to a page";

  const std::array<uint32_t, 5> expected = {kBankAStart, kBankAStart + 0x300, kBankAStart + 0x1300,
                                            kBankAStart + 0x1500, kBankAStart + 0x1600};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const NcbRegion source = active().component(kAllNcbComponents[i]);
    const NcbRegion copied = nonactive().component(kAllNcbComponents[i]);
    EXPECT_EQ(copied, (NcbRegion{expected[i], source.size}))
        << ncbComponentName(kAllNcbComponents[i]);
    EXPECT_EQ(flashBytes(copied.offset, copied.size), imageBytes(source))
        << ncbComponentName(kAllNcbComponents[i]);
  }
  EXPECT_EQ(nonactive().macCrc(), active().macCrc());
  EXPECT_EQ(nonactive().phyCrc(), active().phyCrc());
  EXPECT_EQ(nonactive().romCrc(), active().romCrc());
  EXPECT_EQ(nonactive().imageVersion(), 0x050607u);
  EXPECT_EQ(nonactive().imageTag(), 0x2A5);
  EXPECT_EQ(nonactive().state(), NcbState::kNotActive) << "the state bits stay";
  EXPECT_EQ(flashBytes(kNcb0Address, 2 * kNcbBlockSize),
            std::vector<uint8_t>(image_.begin(), image_.begin() + 2 * kNcbBlockSize));
}

TEST_F(ComponentCopyTest, TheSecondPartStartsOnTheNextPage) {
  struct Case {
    uint32_t part1Size;
    uint32_t part2Offset;
  };
  for (const Case& c : {Case{0x200, 0x200}, Case{0x201, 0x300}, Case{0xFF, 0x100}}) {
    spec_.ncbs[0].sizes[0] = c.part1Size;
    load();
    uint32_t cursor = kBankAStart + 0x10000;
    ASSERT_EQ(copyMacFW(*emulated_.flash, active(), nonactive(), cursor), kStatusSuccess);
    EXPECT_EQ(nonactive().macPart2Offset(), kBankAStart + 0x10000 + c.part2Offset)
        << std::hex << c.part1Size;
  }
}

TEST_F(ComponentCopyTest, AMismatchingCrcWritesNothing) {
  for (const char* which : {"mac", "phy", "rom"}) {
    spec_.ncbs[0].macCrc.kind =
        std::string(which) == "mac" ? image::CrcSpec::Kind::kBad : image::CrcSpec::Kind::kGood;
    spec_.ncbs[0].phyCrc.kind =
        std::string(which) == "phy" ? image::CrcSpec::Kind::kBad : image::CrcSpec::Kind::kGood;
    spec_.ncbs[0].romCrc.kind =
        std::string(which) == "rom" ? image::CrcSpec::Kind::kBad : image::CrcSpec::Kind::kGood;
    load();
    const std::vector<uint8_t> blockBefore = target_;
    FlashDecorator recorder(*emulated_.flash);
    uint32_t cursor = kBankAStart;
    const auto copy = std::string(which) == "mac"   ? copyMacFW
                      : std::string(which) == "phy" ? copyPhyFW
                                                    : copyPciRom;
    EXPECT_EQ(copy(recorder, active(), nonactive(), cursor), kStatusComponentCrcMismatch) << which;
    EXPECT_TRUE(recorder.callsOf(Kind::kWrite).empty()) << which;
    EXPECT_EQ(flashBytes(kBankAStart, 0x2000), std::vector<uint8_t>(0x2000, 0xFF)) << which;
    EXPECT_EQ(target_, blockBefore) << which;
    EXPECT_EQ(cursor, kBankAStart) << which;
  }
}

TEST_F(ComponentCopyTest, AnAbsentComponentIsRecordedAtTheCursorWithSizeZeroAndNeedsNoMemory) {
  spec_.ncbs[0].sizes[4] = 0;  // no option ROM; its CRC is that of no bytes
  load();
  ASSERT_EQ(active().romOffset(), 0u);
  FlashDecorator recorder(*emulated_.flash);
  uint32_t cursor = kBankAStart + 0x2000;
  EXPECT_EQ(copyPciRom(recorder, active(), nonactive(), cursor), kStatusSuccess);
  EXPECT_EQ(cursor, kBankAStart + 0x2000);
  EXPECT_EQ(nonactive().component(NcbComponent::kRom), (NcbRegion{kBankAStart + 0x2000, 0}));
  EXPECT_TRUE(recorder.callsOf(Kind::kWrite).empty());
  EXPECT_EQ(nonactive().romCrc(), 0);
}

// The three copies from an update image, one a row of the copy table: each writes only its own
// component, part behind part from the cursor, as the image holds it, and records it with the
// CRC the image's block gives; the image's version and tag are left to the new block.
TEST_F(ComponentCopyTest, EachCopyFromAnUpdateWritesItsOwnComponentWithTheImagesCrc) {
  using CopyFromUpdate = FlashUpdateStatus (*)(VoFlashControlInterface&, HalvernNcb, uint32_t&,
                                               const UpdateImage&);
  const std::array<CopyFromUpdate, 3> copies = {copyMacFromUpdate, copyPhyFromUpdate,
                                                copyRomFromUpdate};
  load();
  const std::optional<UpdateImage> update = UpdateImage::parse(image_);
  ASSERT_TRUE(update.has_value());
  const uint32_t page = emulated_.flash->pageSize;
  uint32_t start = kBankAStart + 0x100;  // page-aligned, not bank-aligned
  for (std::size_t row = 0; row < copies.size(); ++row) {
    const NcbCrcCoverage covered = ncbCrcCoverage(update->ncb())[row];
    std::fill(target_.begin(), target_.end(), 0);
    uint32_t cursor = start;
    ASSERT_EQ(copies[row](*emulated_.flash, nonactive(), cursor, *update), kStatusSuccess) << row;

    uint32_t expected = start;
    for (const NcbComponent part : {covered.first, covered.second}) {
      const NcbRegion written = nonactive().component(part);
      EXPECT_EQ(written, (NcbRegion{expected, update->region(part).size}))
          << ncbComponentName(part);
      EXPECT_EQ(flashBytes(written.offset, written.size), imageBytes(update->region(part)))
          << ncbComponentName(part);
      expected = (written.end() + page - 1) / page * page;
      if (!covered.twoParts()) break;
    }
    EXPECT_EQ(cursor, expected) << row;
    EXPECT_EQ(ncbCrcCoverage(nonactive())[row].recorded, covered.recorded) << row;
    for (std::size_t other = 0; other < copies.size(); ++other) {
      if (other == row) continue;
      const NcbCrcCoverage untouched = ncbCrcCoverage(nonactive())[other];
      EXPECT_EQ(nonactive().component(untouched.first), (NcbRegion{0, 0})) << row << other;
      EXPECT_EQ(untouched.recorded, 0) << row << other;
    }
    EXPECT_EQ(nonactive().imageVersion(), 0u) << row;
    EXPECT_EQ(nonactive().imageTag(), 0) << row;
    start = cursor;
  }
}

TEST_F(ComponentCopyTest, FailuresLeaveTheOtherBlockAndTheCursorAlone) {
  struct Case {
    const char* what;
    std::function<void(FlashDecorator&)> fault;
    std::function<void(image::NcbSpec&)> change;
    uint32_t cursor;
    FlashUpdateStatus status;
  };
  const auto noFault = [](FlashDecorator&) {};
  const auto noChange = [](image::NcbSpec&) {};
  const Case cases[] = {
      {"part 1 unreadable", [](FlashDecorator& f) { f.failCalls(Kind::kRead, 1, 2); }, noChange,
       kBankAStart, kStatusFlashReadFailed},
      {"part 2 unreadable", [](FlashDecorator& f) { f.failCalls(Kind::kRead, 2, 2); }, noChange,
       kBankAStart, kStatusFlashReadFailed},
      {"part 2 write fails", [](FlashDecorator& f) { f.failCalls(Kind::kWrite, 2); }, noChange,
       kBankAStart, kStatusFlashWriteFailed},
      {"part 2 recorded past the end of the part", noFault,
       [](image::NcbSpec& n) { n.offsets[1] = 0x1FF800; }, kBankAStart, kStatusFlashReadFailed},
      {"placement past the flash layout", noFault, noChange, 0x1FF000, kStatusFlashWriteFailed},
      {"placement far beyond the layout", noFault, noChange, 0xFFFFFF00, kStatusFlashWriteFailed},
  };
  for (const Case& c : cases) {
    spec_ = image::typeOneFlashSpec();
    spec_.ncbs[0].sizes = {0x300, 0x1000, 0x200, 0x100, 0x180};
    c.change(spec_.ncbs[0]);
    load();
    const std::vector<uint8_t> blockBefore = target_;
    FlashDecorator faulty(*emulated_.flash);
    c.fault(faulty);
    uint32_t cursor = c.cursor;
    EXPECT_EQ(copyMacFW(faulty, active(), nonactive(), cursor), c.status) << c.what;
    EXPECT_EQ(cursor, c.cursor) << c.what;
    EXPECT_EQ(target_, blockBefore) << c.what;
  }
}

}  // namespace
}  // namespace hlv
