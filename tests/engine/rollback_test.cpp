#include "engine/rollback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/firmware_update.h"
#include "engine/ncb.h"
#include "engine/type1_transform.h"
#include "tests/engine/flash_doubles.h"
#include "tests/engine/reference_layout.h"
#include "tests/engine/update_harness.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::FlashCall;
using test::FlashDecorator;
using Kind = test::FlashCall::Kind;

bool modifies(const FlashCall& call) {
  return call.kind != Kind::kRead;
}

std::vector<FlashCall> modifyingCalls(const FlashDecorator& recorder) {
  std::vector<FlashCall> calls;
  std::copy_if(recorder.calls.begin(), recorder.calls.end(), std::back_inserter(calls), modifies);
  return calls;
}

// A part in memory holding `flash` at its start.
void loadPart(test::NorMemoryFlash& part, const std::vector<uint8_t>& flash) {
  std::copy(flash.begin(), flash.begin() + std::min(flash.size(), part.contents.size()),
            part.contents.begin());
}

// NCB0 running over bank A, NCB1 deactivated over bank B with the firmware before.
image::ImageSpec updatedSpec() {
  image::ImageSpec spec;
  spec.ncbs[0].sizes = test::kSmallComponents;
  spec.ncbs[0].firmware.version = test::kOldVersion;
  spec.ncbs[1] = spec.ncbs[0];
  spec.ncbs[1].seed = 2;
  spec.ncbs[1].firmware.version = {1, 4, 0};
  spec.ncbs[1].state = NcbState::kDeactivated;
  return spec;
}

// After an update in each direction: the running firmware in one block, the one before it in the
// other, deactivated.
const char* const kUpdatedFlashes[] = {"type2_ncb0_active", "type2_ncb1_active"};

TEST(RollbackToPreviousImage, SwitchesTheBlocksAndASecondRollbackRestoresTheFirst) {
  for (const char* name : kUpdatedFlashes) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> start = test::sweepCase(name).flash;
    const test::FlashReading before = test::readAsReader(start);
    test::UpdateBench bench;
    bench.load(start);

    ASSERT_EQ(rollbackToPreviousImage(bench.flash()), kStatusSuccess);
    const std::vector<uint8_t> once = bench.contents();
    EXPECT_TRUE(once == test::referenceRollback(start));
    const test::FlashReading after = test::readAsReader(once);
    ASSERT_TRUE(after.usable) << after.problem;
    EXPECT_NE(after.activeAddress, before.activeAddress);
    EXPECT_NE(after.version, before.version);

    ASSERT_EQ(rollbackToPreviousImage(bench.flash()), kStatusSuccess);
    EXPECT_TRUE(bench.contents() == start);
    EXPECT_EQ(bench.adapter().violations(), 0u);
  }
}

// The previous block's first sector is rewritten with its first four bytes (the active state)
// last, and only once both are read back is the current block deactivated, the same way. No
// other byte of the flash is erased.
TEST(RollbackToPreviousImage, RewritesOnlyTheFirstSectorOfEachBlockActivatingBeforeDeactivating) {
  struct Case {
    const char* flash;
    uint32_t previous;
    uint32_t current;
    test::Geometry geometry;
  };
  const Case cases[] = {
      {"type2_ncb0_active", kNcb1Address, kNcb0Address, {}},
      {"type2_ncb1_active", kNcb0Address, kNcb1Address, {}},
      {"type2_ncb0_active", kNcb1Address, kNcb0Address, {512, 0x4000, 0x10000, true, 0x200000}},
      {"type2_ncb1_active", kNcb0Address, kNcb1Address, {256, 0x800, 0x10000, false, 0x400000}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.flash) + ", sector " + std::to_string(c.geometry.sectorSize));
    test::NorMemoryFlash part(c.geometry);
    loadPart(part, test::sweepCase(c.flash).flash);
    FlashDecorator recorder(part);
    ASSERT_EQ(rollbackToPreviousImage(recorder), kStatusSuccess);
    const uint32_t sector = c.geometry.sectorSize;
    const std::vector<FlashCall> expected = {
        {Kind::kEraseSector, c.previous, sector},
        {Kind::kWrite, c.previous + 4, sector - 4},
        {Kind::kWrite, c.previous, 4},
        {Kind::kWrite, c.previous + 3, 1},  // its state, alone and last
        {Kind::kWrite, c.current + 3, 1},   // the current block's state cleared in place
    };
    EXPECT_EQ(modifyingCalls(recorder), expected);
  }
}

// Every refusal is decided before the flash is touched.
TEST(RollbackToPreviousImage, RefusesWithoutTouchingTheFlash) {
  // The updated flash with NCB0 running: NCB1 holds the firmware before.
  const auto updated = [] { return test::sweepCase("type2_ncb0_active").flash; };
  const auto build = [](const std::function<void(image::ImageSpec&)>& change) {
    image::ImageSpec spec = updatedSpec();
    change(spec);
    return image::buildImage(spec);
  };
  struct Case {
    const char* what;
    std::function<std::vector<uint8_t>()> flash;
    FlashUpdateStatus status;
    test::Geometry geometry = {};
  };
  const Case cases[] = {
      {"no active block",
       [&] { return build([](image::ImageSpec& s) { s.ncbs[0].state = NcbState::kDeactivated; }); },
       kStatusImageInvalid},
      {"current block with a bad CRC",
       [&] {
         return build(
             [](image::ImageSpec& s) { s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad; });
       },
       kStatusImageInvalid},
      {"previous block with a bad CRC",
       [&] {
         return build(
             [](image::ImageSpec& s) { s.ncbs[1].ncbCrc.kind = image::CrcSpec::Kind::kBad; });
       },
       kStatusNcbInvalid},
      {"previous block with a component outside the flash window",
       [&] {
         return build([](image::ImageSpec& s) {
           s.ncbs[1].sets = {{0x54, {0x00, 0x70, 0x00}}};  // the option ROM at 0x7000
         });
       },
       kStatusNcbInvalid},
      {"previous block still describing a free area",
       [&] {
         return build([](image::ImageSpec& s) { s.ncbs[1].freeArea = NcbRegion{0x8000, 0x1000}; });
       },
       kStatusRollbackImpossible},
      {"previous block marked unusable",
       [&] { return build([](image::ImageSpec& s) { s.ncbs[1].magic = true; }); },
       kStatusNcbNotUsable},
      // What an update interrupted while writing the other bank leaves: the block before it
      // still describes that bank, which is erased.
      {"previous bank erased",
       [&] {
         std::vector<uint8_t> flash = updated();
         std::fill(flash.begin() + kBankBStart, flash.end(), 0xFF);
         return flash;
       },
       kStatusNcbInvalid},
      {"previous bank with one wrong byte",
       [&] {
         std::vector<uint8_t> flash = updated();
         const ConstHalvernNcb previous(flash.data() + kNcb1Address);
         flash[previous.phyPart2Offset() + 5] ^= 0x01;
         return flash;
       },
       kStatusNcbInvalid},
      {"previous block with its option ROM in the other bank",
       [&] { return build([](image::ImageSpec& s) { s.ncbs[1].offsets[4] = 0x100000; }); },
       kStatusNcbInvalid},
      {"sectors larger than a block", updated, kStatusNcbBuildFailed,
       test::Geometry{256, 0x8000, 0x10000, true, 0x200000}},
      {"a part without an erase sector", updated, kStatusNcbBuildFailed,
       test::Geometry{256, 0, 0x10000, true, 0x200000}},
      {"a part of 1 MiB", updated, kStatusNcbBuildFailed,
       test::Geometry{256, 0x1000, 0x10000, true, 0x100000}},
  };
  for (const Case& c : cases) {
    test::NorMemoryFlash part(c.geometry);
    loadPart(part, c.flash());
    const std::vector<uint8_t> before = part.contents;
    FlashDecorator recorder(part);
    EXPECT_EQ(rollbackToPreviousImage(recorder), c.status) << c.what;
    EXPECT_TRUE(modifyingCalls(recorder).empty()) << c.what;
    EXPECT_TRUE(part.contents == before) << c.what;
  }
}

// The transform retires its source with a CRC of 0: the firmware from before it cannot be
// taken again.
TEST(RollbackToPreviousImage, RightAfterATransformIsRefused) {
  const test::UpdateCase c = test::sweepCase("row4_ncb0_active_free_a");
  test::NorMemoryFlash part;
  loadPart(part, c.flash);
  std::vector<uint8_t> ncbs(part.contents.begin(), part.contents.begin() + 2 * kNcbBlockSize);
  ASSERT_EQ(
      type1TransformToType2(HalvernNcb(ncbs.data()), HalvernNcb(ncbs.data() + kNcbBlockSize), part),
      kStatusSuccess);
  const std::vector<uint8_t> transformed = part.contents;
  EXPECT_EQ(rollbackToPreviousImage(part), kStatusNcbInvalid);
  EXPECT_TRUE(part.contents == transformed);
}

// An update cut short while it wrote the other bank: the rollback finds that bank damaged and
// changes nothing; the flash still runs the firmware it ran.
TEST(RollbackToPreviousImage, AfterAnInterruptedUpdateIsRefusedAndChangesNothing) {
  for (const char* name : kUpdatedFlashes) {
    SCOPED_TRACE(name);
    const test::UpdateCase c = test::sweepCase(name);
    test::UpdateBench bench;
    bench.load(c.flash);
    bench.cutPowerAfter(30);  // the bank erased (27 units), its first parts programmed
    EXPECT_NE(updateFirmware(bench.flash(), c.input()), kStatusSuccess);
    bench.restart();
    const std::vector<uint8_t> interrupted = bench.contents();
    ASSERT_TRUE(interrupted != c.flash) << "the update wrote nothing before the cut";
    EXPECT_EQ(rollbackToPreviousImage(bench.flash()), kStatusNcbInvalid);
    EXPECT_TRUE(bench.contents() == interrupted);
    const test::FlashReading reading = test::readAsReader(bench.contents());
    EXPECT_TRUE(reading.usable) << reading.problem;
    EXPECT_EQ(reading.version, c.oldVersion);
  }
}

// A program that fails or lands wrong while the previous block is written leaves it erased
// again, so that readers keep taking the current block, even when the previous one is NCB0.
// A failure while the current block is deactivated leaves both active: readers take NCB0.
TEST(RollbackToPreviousImage, AFailedWriteNeverLeavesABrokenBlockForReaders) {
  enum class Taken : uint8_t { kCurrent, kNcb0 };
  struct Case {
    const char* what;
    std::function<void(FlashDecorator&, uint32_t previous, uint32_t current)> fault;
    Taken taken;  // which block readers take afterwards
  };
  const Case cases[] = {
      {"previous block's body not programmed",
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kWrite, 1); },
       Taken::kCurrent},
      {"previous block's first bytes not programmed",
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kWrite, 2); },
       Taken::kCurrent},
      {"previous block's CRC programmed wrong",
       [](FlashDecorator& f, uint32_t previous, uint32_t) { f.corruptWriteAt = previous + 1; },
       Taken::kCurrent},
      {"previous block's body programmed wrong",
       [](FlashDecorator& f, uint32_t previous, uint32_t) { f.corruptWriteAt = previous + 0x40; },
       Taken::kCurrent},
      {"previous block's first sector not erased",
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kEraseSector, 1); },
       Taken::kCurrent},
      {"previous block's state not programmed",
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kWrite, 3); },
       Taken::kCurrent},
      {"current block's state not cleared",
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kWrite, 4, 2); },
       Taken::kNcb0},
      {"current block's state programmed wrong",
       [](FlashDecorator& f, uint32_t, uint32_t current) { f.corruptWriteAt = current + 3; },
       Taken::kNcb0},
  };
  for (const char* name : kUpdatedFlashes) {
    const test::UpdateCase u = test::sweepCase(name);
    const test::FlashReading before = test::readAsReader(u.flash);
    const uint32_t current = before.activeAddress;
    const uint32_t previous = current == kNcb0Address ? kNcb1Address : kNcb0Address;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(name) + ": " + c.what);
      test::NorMemoryFlash part;
      loadPart(part, u.flash);
      FlashDecorator recorder(part);
      c.fault(recorder, previous, current);
      EXPECT_NE(rollbackToPreviousImage(recorder), kStatusSuccess);
      const test::FlashReading after = test::readAsReader(part.contents);
      ASSERT_TRUE(after.usable) << after.problem;
      const uint32_t taken = c.taken == Taken::kCurrent ? current : kNcb0Address;
      EXPECT_EQ(after.activeAddress, taken);
      if (taken == current) {
        EXPECT_EQ(after.version, before.version);
      }
    }
  }
}

TEST(RollbackToPreviousImage, AnUnreadyFlashInterfaceIsReported) {
  class UnreadyFlash : public test::NorMemoryFlash {
   public:
    bool init() override { return false; }
  };
  UnreadyFlash part;
  EXPECT_EQ(rollbackToPreviousImage(part), kStatusFlashReadFailed);
}

}  // namespace
}  // namespace hlv
