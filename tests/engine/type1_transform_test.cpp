// The transform of a type-1 layout into the type-2 layout: every row of the transform table, its
// requirements, and failures that leave the flash readable.
#include "engine/type1_transform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/ncb.h"
#include "engine/ncb_layout.h"
#include "tests/engine/flash_doubles.h"
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
bool isErase(const FlashCall& call) {
  return call.kind == Kind::kEraseSector || call.kind == Kind::kEraseBlock;
}

// The two blocks of a flash, as the update entry reads them.
struct Blocks {
  explicit Blocks(const std::vector<uint8_t>& flash)
      : bytes(flash.begin(), flash.begin() + 2 * kNcbBlockSize) {}
  HalvernNcb ncb0() { return HalvernNcb(bytes.data()); }
  HalvernNcb ncb1() { return HalvernNcb(bytes.data() + kNcbBlockSize); }
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> componentBytes(const std::vector<uint8_t>& flash, ConstHalvernNcb ncb) {
  std::vector<uint8_t> bytes;
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb.component(component);
    bytes.insert(bytes.end(), flash.begin() + region.offset, flash.begin() + region.end());
  }
  return bytes;
}

TEST(Type1Transform, EachRowEndsWithTheTargetActiveOverItsOwnBankAndTheSourceRetired) {
  struct Case {
    const char* name;
    uint32_t src;
    uint32_t dst;
    bool dstKeepsItsOwnAreas;  // row 1: NCB1's own contents become the target
  };
  const Case cases[] = {
      {"row1_both_active_free_b", kNcb0Address, kNcb1Address, true},
      {"row2_ncb0_active_free_b", kNcb0Address, kNcb1Address, false},
      {"row3_both_active_free_a", kNcb1Address, kNcb0Address, false},
      {"row4_ncb0_active_free_a", kNcb1Address, kNcb0Address, false},
      {"row5_ncb1_active_free_a", kNcb1Address, kNcb0Address, false},
      {"row6_ncb1_active_free_b", kNcb0Address, kNcb1Address, false},
  };
  for (const Case& c : cases) {
    const test::UpdateCase update = test::sweepCase(c.name);
    const std::vector<uint8_t>& before = update.flash;
    const ConstHalvernNcb reader(
        before.data() + (ConstHalvernNcb(before.data()).active() ? kNcb0Address : kNcb1Address));
    test::UpdateBench bench;
    bench.load(before);
    Blocks blocks(before);
    ASSERT_EQ(type1TransformToType2(blocks.ncb0(), blocks.ncb1(), bench.flash()), kStatusSuccess)
        << c.name;

    const std::vector<uint8_t> after = bench.contents();
    EXPECT_TRUE(std::equal(blocks.bytes.begin(), blocks.bytes.end(), after.begin()))
        << c.name << ": the blocks in memory equal the flash";
    const ConstHalvernNcb dst(after.data() + c.dst);
    const ConstHalvernNcb src(after.data() + c.src);
    EXPECT_EQ(dst.state(), NcbState::kActive) << c.name;
    EXPECT_EQ(validateNcb(dst, false), kStatusSuccess) << c.name;
    EXPECT_EQ(dst.freeArea(), (NcbRegion{0, 0})) << c.name;
    EXPECT_TRUE(componentsInOwnBank(dst, c.dst == kNcb1Address)) << c.name;
    EXPECT_TRUE(isType2Layout(dst, c.dst == kNcb1Address)) << c.name;
    EXPECT_EQ(componentBytes(after, dst), componentBytes(before, reader))
        << c.name << ": the running firmware, moved";
    EXPECT_EQ(dst.imageVersion(), reader.imageVersion()) << c.name;
    EXPECT_EQ(dst.imageTag(), reader.imageTag()) << c.name;
    EXPECT_EQ(src.state(), NcbState::kDeactivated) << c.name;
    EXPECT_EQ(src.crc(), 0) << c.name << ": the retired source can never validate again";
    EXPECT_EQ(src.freeArea(), (NcbRegion{0, 0})) << c.name;
    const ConstHalvernNcb ownBefore(before.data() + c.dst);
    const ConstHalvernNcb areasFrom = c.dstKeepsItsOwnAreas ? ownBefore : reader;
    EXPECT_TRUE(std::equal(dst.data() + 0x800, dst.data() + 0x1000, areasFrom.data() + 0x800))
        << c.name << ": the target's areas";
    const test::FlashReading reading = test::readAsReader(after);
    EXPECT_TRUE(reading.usable) << c.name << ": " << reading.problem;
    EXPECT_EQ(reading.activeAddress, c.dst) << c.name;
    EXPECT_EQ(reading.version, test::kOldVersion) << c.name;
    EXPECT_EQ(bench.adapter().violations(), 0u) << c.name;
  }
}

// With NCB0 active over bank B, NCB1 erased and the free area in bank A, NCB0's slot must be
// rebuilt: a copy of NCB0 goes to NCB1 first, so that a valid active block stays on the flash.
// Keeps a copy of the flash as it was right after the n-th program.
class SnapshotAfterWrite : public FlashDecorator {
 public:
  SnapshotAfterWrite(VoFlashControlInterface& inner, sim::EmulatedAdapter& adapter, int n)
      : FlashDecorator(inner), adapter_(adapter), left_(n) {}
  bool write(uint32_t address, const uint8_t* buffer, uint32_t length,
             uint32_t& bytesWritten) override {
    const bool ok = FlashDecorator::write(address, buffer, length, bytesWritten);
    if (--left_ == 0) snapshot.assign(adapter_.flash().begin(), adapter_.flash().end());
    return ok;
  }
  std::vector<uint8_t> snapshot;

 private:
  sim::EmulatedAdapter& adapter_;
  int left_;
};

TEST(Type1Transform, TheActiveBlockIsDuplicatedBeforeItsSlotIsRewritten) {
  const test::UpdateCase update = test::sweepCase("row4_ncb0_active_free_a");
  test::UpdateBench bench;
  bench.load(update.flash);
  // The duplicate's body, imageTag, CRC and state are the first four programs.
  SnapshotAfterWrite recorder(bench.flash(), bench.adapter(), 4);
  Blocks blocks(update.flash);
  ASSERT_EQ(type1TransformToType2(blocks.ncb0(), blocks.ncb1(), recorder), kStatusSuccess);

  std::vector<FlashCall> modifying;
  std::copy_if(recorder.calls.begin(), recorder.calls.end(), std::back_inserter(modifying),
               modifies);
  ASSERT_GE(modifying.size(), 8u);
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_GE(modifying[i].address, kNcb1Address) << modifying[i];
    EXPECT_LT(modifying[i].address, kNcb1Address + kNcbBlockSize) << modifying[i];
  }
  // The duplicate: NCB0 with areaB's slot bit set and its CRC computed again.
  std::vector<uint8_t> duplicate(update.flash.begin(), update.flash.begin() + kNcbBlockSize);
  HalvernNcb expected(duplicate.data());
  expected.setArea(NcbArea::kB, {static_cast<uint16_t>(expected.areaB().offset | 0x4000),
                                 expected.areaB().length});
  updateNcbCrc(expected);
  ASSERT_FALSE(recorder.snapshot.empty());
  EXPECT_TRUE(
      std::equal(duplicate.begin(), duplicate.end(), recorder.snapshot.begin() + kNcb1Address));
  EXPECT_TRUE(std::equal(update.flash.begin(), update.flash.begin() + kNcbBlockSize,
                         recorder.snapshot.begin()))
      << "NCB0 still as it was";

  const std::vector<uint8_t> after = bench.contents();
  EXPECT_EQ(ConstHalvernNcb(after.data()).macPart1Offset(), kBankAStart);
  EXPECT_TRUE(ConstHalvernNcb(after.data()).active());
}

// A block taken over as source or target without being the one readers take is validated as
// if active, and the source's free area must not take anything from the block readers take.
TEST(Type1TransformRequirements, BlocksTakenAsTheyStandAreCheckedBeforeAnyWrite) {
  struct Case {
    const char* what;
    const char* row;
    std::function<void(image::ImageSpec&)> change;
    FlashUpdateStatus status;
  };
  const Case cases[] = {
      {"row 1, NCB1 with a bad CRC", "row1",
       [](image::ImageSpec& s) { s.ncbs[1].ncbCrc.kind = image::CrcSpec::Kind::kBad; },
       kStatusNcbInvalid},
      {"row 1, NCB1 with an area past its block", "row1",
       [](image::ImageSpec& s) { s.ncbs[1].areas[0].lengthField = 0x3F00; }, kStatusNcbInvalid},
      {"row 1, NCB1 marked unusable", "row1", [](image::ImageSpec& s) { s.ncbs[1].magic = true; },
       kStatusNcbNotUsable},
      {"row 3, NCB1 with a bad CRC", "row3",
       [](image::ImageSpec& s) { s.ncbs[1].ncbCrc.kind = image::CrcSpec::Kind::kBad; },
       kStatusNcbInvalid},
      {"row 3, NCB1's free area running into NCB0's components", "row3",
       [](image::ImageSpec& s) {
         s.ncbs[1].freeArea = NcbRegion{0x8000, 0xFD000};
       },
       kStatusRegionsOverlap},
      {"row 3, NCB1's free area over NCB0's MAC part 1", "row3",
       [](image::ImageSpec& s) {
         s.ncbs[0].offsets[0] = 0x9000;  // NCB0's MAC part 1 inside bank A
         s.ncbs[1].freeArea = NcbRegion{0x8000, 0x20000};
       },
       kStatusRegionsOverlap},
      {"row 3, NCB1's free area too small for its components", "row3",
       [](image::ImageSpec& s) {
         s.ncbs[1].freeArea = NcbRegion{0x8000, 0xC00};
       },
       kStatusFreeAreaTooSmall},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec;
    for (image::NcbSpec& n : spec.ncbs) {
      n = image::NcbSpec();
      n.sizes = test::kSmallComponents;
    }
    if (std::string(c.row) == "row1") {
      spec.ncbs[0].offsets = {0x180000, 0x180200, 0x180600, 0x180800, 0x180900};
      spec.ncbs[0].freeArea = NcbRegion{0x104000, 0x7C000};
    } else {
      spec.ncbs[0].bank = image::Bank::kB;
      spec.ncbs[0].freeAreaOtherBank = true;
      spec.ncbs[1].bank = image::Bank::kB;
      spec.ncbs[1].freeAreaOtherBank = true;
    }
    c.change(spec);
    const std::vector<uint8_t> flash = image::buildImage(spec);
    test::UpdateBench bench;
    bench.load(flash);
    FlashDecorator recorder(bench.flash());
    Blocks blocks(flash);
    EXPECT_EQ(type1CheckTransformRequirements(recorder, blocks.ncb0(), blocks.ncb1()), c.status)
        << c.what;
    EXPECT_EQ(type1TransformToType2(blocks.ncb0(), blocks.ncb1(), recorder), c.status) << c.what;
    EXPECT_TRUE(std::none_of(recorder.calls.begin(), recorder.calls.end(), modifies)) << c.what;
    EXPECT_EQ(bench.contents(), [&] {
      std::vector<uint8_t> whole = flash;
      whole.resize(bench.contents().size(), 0xFF);
      return whole;
    }()) << c.what;
  }
}

TEST(Type1TransformRequirements, TheFreeAreaMustHoldTheComponentsInsideTheTargetsBank) {
  struct Case {
    const char* what;
    NcbRegion freeArea;
    std::array<uint32_t, 5> sizes;
    uint32_t pageSize;
    FlashUpdateStatus status;
    uint32_t componentsAt = 0x180000;  // packed from here, in bank B
  };
  const std::array<uint32_t, 5> wholeBank = {0x20000, 0x80000, 0x20000, 0x1C000, 0x20000};
  const std::array<uint32_t, 5> small = {0x1000, 0x2000, 0x1000, 0x800, 0x800};  // 0x5000
  const Case cases[] = {
      {"free area filling bank A, components filling bank B",
       {0x8000, 0xFC000},
       wholeBank,
       256,
       kStatusSuccess,
       kBankBStart},
      {"components one page more than the free area",
       {0x8000, 0x5000},
       {0x1000, 0x2000, 0x1000, 0x800, 0x801},
       256,
       kStatusFreeAreaTooSmall},
      {"rounding to pages makes it too much",
       {0x8000, 0x5000},
       {0x1000, 0x2000, 0x1000, 0x800, 0x7FF},
       0x1000,
       kStatusFreeAreaTooSmall},
      {"free area at 0x100000 with 0x5000 required",
       {0x100000, 0x10000},
       small,
       256,
       kStatusFreeAreaAcrossBanks},
      {"free area at 0xFF000 with 0x5000 required, ending at bank B",
       {0xFF000, 0x5000},
       small,
       256,
       kStatusSuccess},
      {"free area running past bank A, the components fitting before it",
       {0x8000, 0x100000},
       small,
       256,
       kStatusFreeAreaAcrossBanks},
      {"free area not on sectors, whole sectors large enough",
       {0x8800, 0x6000},
       small,
       256,
       kStatusSuccess},
      {"free area not on sectors, whole sectors too small",
       {0x8800, 0x5000},
       small,
       256,
       kStatusFreeAreaTooSmall},
      {"free area within one sector",
       {0x8100, 0xE00},
       {0x100, 0x200, 0x100, 0x100, 0x100},
       256,
       kStatusFreeAreaTooSmall},
  };
  for (const Case& c : cases) {
    // NCB0 active, its components in bank B, NCB1 erased.
    image::ImageSpec spec;
    spec.ncbs[0].sizes = c.sizes;
    uint32_t at = c.componentsAt;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      spec.ncbs[0].offsets[i] = at;
      at = (at + c.sizes[i] + 0xFF) & ~0xFFu;
    }
    spec.ncbs[0].freeArea = c.freeArea;
    const std::vector<uint8_t> flash = image::buildImage(spec);
    test::NorMemoryFlash part({static_cast<uint16_t>(c.pageSize), 0x1000, 0x10000, true});
    std::copy(flash.begin(), flash.end(), part.contents.begin());
    Blocks blocks(flash);
    EXPECT_EQ(type1CheckTransformRequirements(part, blocks.ncb0(), blocks.ncb1()), c.status)
        << c.what;
  }
}

// A free area that does not end on a sector: the sector around its end may hold a component
// that the block readers take, so only whole sectors inside the free area are erased.
TEST(Type1Transform, OnlyWholeSectorsInsideTheFreeAreaAreErased) {
  image::ImageSpec spec;
  spec.ncbs[0].sizes = test::kSmallComponents;
  // The components right behind the free area, in the same sector as its end.
  spec.ncbs[0].offsets = {0xB800, 0xBA00, 0xBE00, 0xC000, 0xC100};
  spec.ncbs[0].freeArea = NcbRegion{0x8800, 0x3000};  // 0x8800..0xB7FF
  spec.ncbs[1].erased = true;
  const std::vector<uint8_t> flash = image::buildImage(spec);
  test::UpdateBench bench;
  bench.load(flash);
  FlashDecorator recorder(bench.flash());
  Blocks blocks(flash);
  // NCB0 over bank A with a free area in bank A is already of the type-2 layout; the transform
  // is asked for directly here.
  ASSERT_EQ(type1TransformToType2(blocks.ncb0(), blocks.ncb1(), recorder), kStatusSuccess);
  for (const FlashCall& call : recorder.calls) {
    if (!isErase(call) || call.address < kBankAStart) continue;
    EXPECT_GE(call.address, 0x9000u) << call;
    EXPECT_LE(call.address + call.length, 0xB000u) << call;
  }
  const std::vector<uint8_t> after = bench.contents();
  EXPECT_TRUE(std::equal(flash.begin() + 0x8000, flash.begin() + 0x9000, after.begin() + 0x8000));
  EXPECT_TRUE(std::equal(flash.begin() + 0xB000, flash.begin() + 0xD000, after.begin() + 0xB000));
  const test::FlashReading reading = test::readAsReader(after);
  EXPECT_TRUE(reading.usable) << reading.problem;
}

// The target's write failing after its first bytes: it may read as active over the free area.
// The free area is erased again only after the target's block was erased.
TEST(Type1Transform, TheFreeAreaIsNeverErasedAgainWhileTheTargetMayBeActive) {
  struct Case {
    const char* row;
    uint32_t dst;
  };
  for (const Case& c : {Case{"row4_ncb0_active_free_a", kNcb0Address},
                        Case{"row2_ncb0_active_free_b", kNcb1Address}}) {
    const test::UpdateCase update = test::sweepCase(c.row);
    test::UpdateBench bench;
    bench.load(update.flash);
    FlashDecorator faulty(bench.flash());
    faulty.corruptWriteAt = c.dst;  // the CRC's low byte
    Blocks blocks(update.flash);
    EXPECT_EQ(type1TransformToType2(blocks.ncb0(), blocks.ncb1(), faulty), kStatusFlashWriteFailed)
        << c.row;
    for (auto call = faulty.calls.begin(); call != faulty.calls.end(); ++call) {
      if (call->kind != Kind::kWrite || call->address != c.dst) continue;
      const auto nextErase = std::find_if(call + 1, faulty.calls.end(), isErase);
      if (nextErase != faulty.calls.end()) {
        EXPECT_EQ(nextErase->address, c.dst) << c.row;
      }
    }
    const test::FlashReading reading = test::readAsReader(bench.contents());
    EXPECT_TRUE(reading.usable) << c.row << ": " << reading.problem;
    EXPECT_EQ(reading.version, test::kOldVersion) << c.row;
  }
}

TEST(Type1Transform, ADuplicateThatCannotBeWrittenLeavesTheFlashAsItWas) {
  // NCB1 active over bank A, free area in bank B: NCB1 is duplicated into NCB0 first. Its
  // first bytes program wrong every time.
  const test::UpdateCase update = test::sweepCase("row6_ncb1_active_free_b");
  test::UpdateBench bench;
  bench.load(update.flash);
  FlashDecorator faulty(bench.flash());
  faulty.corruptWriteAt = kNcb0Address + 1;
  Blocks blocks(update.flash);
  EXPECT_EQ(type1TransformToType2(blocks.ncb0(), blocks.ncb1(), faulty), kStatusFlashWriteFailed);
  EXPECT_TRUE(std::all_of(faulty.calls.begin(), faulty.calls.end(), [](const FlashCall& call) {
    return !modifies(call) || call.address < kNcb1Address;
  })) << "nothing but NCB0's slot was touched";
  const std::vector<uint8_t> after = bench.contents();
  EXPECT_FALSE(ConstHalvernNcb(after.data()).active());
  EXPECT_TRUE(std::equal(update.flash.begin() + kNcb1Address, update.flash.end(),
                         after.begin() + kNcb1Address));
  const test::FlashReading reading = test::readAsReader(after);
  EXPECT_TRUE(reading.usable) << reading.problem;
  EXPECT_EQ(reading.activeAddress, kNcb1Address);
}

TEST(Type1Transform, AComponentThatReadsBackWrongIsNeverDescribed) {
  const test::UpdateCase update = test::sweepCase("row4_ncb0_active_free_a");
  test::UpdateBench bench;
  bench.load(update.flash);
  FlashDecorator faulty(bench.flash());
  faulty.corruptWriteAt = kBankAStart + 0x210;  // inside MAC part 2's new place
  Blocks blocks(update.flash);
  EXPECT_EQ(type1TransformToType2(blocks.ncb0(), blocks.ncb1(), faulty), kStatusFlashWriteFailed);
  EXPECT_TRUE(std::none_of(faulty.calls.begin(), faulty.calls.end(), [](const FlashCall& call) {
    return modifies(call) && call.address < kNcb1Address;
  })) << "NCB0, the target, was never written";
  const test::FlashReading reading = test::readAsReader(bench.contents());
  EXPECT_TRUE(reading.usable) << reading.problem;
  EXPECT_EQ(reading.version, test::kOldVersion);
}

}  // namespace
}  // namespace hlv
