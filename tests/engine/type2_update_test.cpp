// The type-2 update: the other bank written, the new block activated, the old one deactivated,
// and every failure on the way; building the new block.
#include "engine/type2_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/firmware_update.h"
#include "engine/new_ncb.h"
#include "engine/update_data.h"
#include "tests/engine/flash_doubles.h"
#include "tests/engine/update_harness.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::FlashCall;
using test::FlashDecorator;
using Kind = test::FlashCall::Kind;

bool isErase(const FlashCall& call) {
  return call.kind == Kind::kEraseSector || call.kind == Kind::kEraseBlock;
}

bool inBlock(const FlashCall& call, uint32_t block) {
  return call.address >= block && call.address < block + kNcbBlockSize;
}

bool inBank(const FlashCall& call, uint32_t bank) {
  return call.address >= bank && call.address < bank + kBankLength;
}

// The two blocks read from a flash, and the update parsed from an image, as updateFirmware
// hands them to type2PerformUpdate.
struct Prepared {
  std::vector<uint8_t> ncbs;
  UpdateData data;
  HalvernNcb ncb0() { return HalvernNcb(ncbs.data()); }
  HalvernNcb ncb1() { return HalvernNcb(ncbs.data() + kNcbBlockSize); }
};

void prepare(Prepared& p, const test::UpdateCase& c) {
  p.ncbs.assign(c.flash.begin(), c.flash.begin() + 2 * kNcbBlockSize);
  const std::optional<UpdateImage> image = UpdateImage::parse(c.image);
  ASSERT_TRUE(image);
  ASSERT_TRUE(parseUpdateData(*image, {c.blobD, c.blobE}, p.data));
}

TEST(Type2PerformUpdate, WritesTheOtherBankThenActivatesTheNewBlockThenDeactivatesTheOld) {
  struct Case {
    const char* name;
    uint32_t activeAddress;
    uint32_t newAddress;
    uint32_t bank;
  };
  const Case cases[] = {
      {"type2_ncb0_active", kNcb0Address, kNcb1Address, kBankBStart},
      {"type2_ncb1_active", kNcb1Address, kNcb0Address, kBankAStart},
  };
  for (const Case& c : cases) {
    const test::UpdateCase update = test::sweepCase(c.name);
    Prepared p;
    prepare(p, update);
    test::UpdateBench bench;
    bench.load(update.flash);
    FlashDecorator recorder(bench.flash());
    ASSERT_EQ(type2PerformUpdate(recorder, p.ncb0(), p.ncb1(), p.data), kStatusSuccess) << c.name;

    // The phases in order: the bank, the new block, the old block.
    std::vector<FlashCall> modifying;
    std::copy_if(recorder.calls.begin(), recorder.calls.end(), std::back_inserter(modifying),
                 [](const FlashCall& call) { return call.kind != Kind::kRead; });
    const auto firstNew = std::find_if(modifying.begin(), modifying.end(), [&](const FlashCall& x) {
      return inBlock(x, c.newAddress);
    });
    const auto firstOld = std::find_if(modifying.begin(), modifying.end(), [&](const FlashCall& x) {
      return inBlock(x, c.activeAddress);
    });
    ASSERT_NE(firstNew, modifying.end()) << c.name;
    ASSERT_NE(firstOld, modifying.end()) << c.name;
    EXPECT_TRUE(std::all_of(modifying.begin(), firstNew,
                            [&](const FlashCall& x) { return inBank(x, c.bank); }))
        << c.name << ": only the new bank before the new block";
    EXPECT_TRUE(std::all_of(firstNew, firstOld,
                            [&](const FlashCall& x) { return inBlock(x, c.newAddress); }))
        << c.name << ": then only the new block";
    EXPECT_TRUE(std::all_of(firstOld, modifying.end(),
                            [&](const FlashCall& x) { return inBlock(x, c.activeAddress); }))
        << c.name << ": then only the old block";
    const std::vector<uint8_t> flash = bench.contents();
    EXPECT_TRUE(std::equal(p.ncbs.begin(), p.ncbs.end(), flash.begin()))
        << c.name << ": the blocks in memory equal the flash";
    const ConstHalvernNcb newNcb(flash.data() + c.newAddress);
    const ConstHalvernNcb oldNcb(flash.data() + c.activeAddress);
    EXPECT_EQ(newNcb.state(), NcbState::kActive) << c.name;
    EXPECT_EQ(oldNcb.state(), NcbState::kDeactivated) << c.name;
    EXPECT_EQ(newNcb.areaB().offset & kNcbAreaBSlotBit, c.newAddress == kNcb1Address ? 0x4000 : 0)
        << c.name;
    EXPECT_EQ(newNcb.macPart1Offset(), c.bank) << c.name;
    EXPECT_TRUE(std::equal(oldNcb.data() + kNcbCrcStart, oldNcb.data() + kNcbBlockSize,
                           update.flash.begin() + c.activeAddress + kNcbCrcStart))
        << c.name << ": the old block keeps its contents and CRC, only its state changes";
    EXPECT_EQ(bench.adapter().violations(), 0u) << c.name;
  }
}

TEST(Type2PerformUpdate, BothBlocksActiveTakesNcb0AsTheOldOne) {
  test::UpdateCase update = test::sweepCase("type2_ncb0_active");
  update.flash[kNcb1Address + ncb_field::kStateByte] =
      static_cast<uint8_t>((update.flash[kNcb1Address + ncb_field::kStateByte] & 0x3F) | 0x80);
  Prepared p;
  prepare(p, update);
  test::UpdateBench bench;
  bench.load(update.flash);
  ASSERT_EQ(type2PerformUpdate(bench.flash(), p.ncb0(), p.ncb1(), p.data), kStatusSuccess);
  const test::FlashReading reading = test::readAsReader(bench.contents());
  EXPECT_TRUE(reading.usable) << reading.problem;
  EXPECT_EQ(reading.activeAddress, kNcb1Address);
  EXPECT_EQ(reading.version, test::kNewVersion);
  EXPECT_EQ(ConstHalvernNcb(bench.contents().data()).state(), NcbState::kDeactivated);
}

// When the new block's write fails, it may already read as active (a read-back that differs
// after the first four bytes were programmed), and readers prefer NCB0. The bank it describes
// is erased again only after the block itself was erased.
TEST(Type2PerformUpdate, TheBankIsNeverErasedAgainWhileTheNewBlockMayBeActive) {
  struct Case {
    const char* what;
    const char* update;
    uint32_t newAddress;
    std::function<void(FlashDecorator&)> fault;
    FlashUpdateStatus status;
  };
  const Case cases[] = {
      {"NCB0's first bytes programmed wrong", "type2_ncb1_active", kNcb0Address,
       [](FlashDecorator& f) { f.corruptWriteAt = kNcb0Address; }, kStatusFlashWriteFailed},
      {"NCB1's first bytes programmed wrong", "type2_ncb0_active", kNcb1Address,
       [](FlashDecorator& f) { f.corruptWriteAt = kNcb1Address + 1; }, kStatusFlashWriteFailed},
      {"NCB0's first bytes read back wrong once", "type2_ncb1_active", kNcb0Address,
       [](FlashDecorator& f) { f.corruptReadAt = kNcb0Address + 2; }, kStatusFlashWriteFailed},
  };
  for (const Case& c : cases) {
    const test::UpdateCase update = test::sweepCase(c.update);
    Prepared p;
    prepare(p, update);
    test::UpdateBench bench;
    bench.load(update.flash);
    FlashDecorator faulty(bench.flash());
    c.fault(faulty);
    EXPECT_EQ(type2PerformUpdate(faulty, p.ncb0(), p.ncb1(), p.data), c.status) << c.what;

    // After every program of the new block's first four bytes, the next erase is the block's.
    for (auto call = faulty.calls.begin(); call != faulty.calls.end(); ++call) {
      if (call->kind != Kind::kWrite || call->address != c.newAddress) continue;
      const auto nextErase = std::find_if(call + 1, faulty.calls.end(), isErase);
      if (nextErase == faulty.calls.end()) continue;
      EXPECT_EQ(nextErase->address, c.newAddress) << c.what;
    }
    const test::FlashReading reading = test::readAsReader(bench.contents());
    EXPECT_TRUE(reading.usable) << c.what << ": " << reading.problem;
    EXPECT_EQ(reading.version, test::kOldVersion) << c.what;
    EXPECT_FALSE(ConstHalvernNcb(bench.contents().data() + c.newAddress).active()) << c.what;
  }
}

TEST(Type2PerformUpdate, WhenTheFailedNewBlockCannotBeErasedTheBankIsLeftAlone) {
  const test::UpdateCase update = test::sweepCase("type2_ncb1_active");
  Prepared p;
  prepare(p, update);
  test::UpdateBench bench;
  bench.load(update.flash);
  FlashDecorator faulty(bench.flash());
  // NCB1 is active: the new block is NCB0. Every program of it fails, and so does every erase
  // of it after the first erase of its sectors.
  const uint32_t newBlockSectors = kNcbBlockSize / faulty.sectorSize;
  faulty.failCallsIn(Kind::kWrite, kNcb0Address, kNcb0Address + kNcbBlockSize, 1, 1000);
  faulty.failCallsIn(Kind::kEraseSector, kNcb0Address, kNcb0Address + kNcbBlockSize,
                     newBlockSectors + 1, 1000);
  EXPECT_NE(type2PerformUpdate(faulty, p.ncb0(), p.ncb1(), p.data), kStatusSuccess);
  const auto blockErases =
      std::count_if(faulty.calls.begin(), faulty.calls.end(),
                    [](const FlashCall& x) { return x.kind == Kind::kEraseBlock; });
  EXPECT_EQ(blockErases, 15) << "the bank was erased once";
  const std::vector<uint8_t> flash = bench.contents();
  const test::FlashReading reading = test::readAsReader(flash);
  EXPECT_TRUE(reading.usable) << reading.problem;
  EXPECT_EQ(reading.version, test::kOldVersion);
  // Changed only where the failure allows: the new block and bank A; NCB1 and bank B are as
  // they were.
  EXPECT_TRUE(std::equal(flash.begin() + kNcb1Address, flash.begin() + kBankAStart,
                         update.flash.begin() + kNcb1Address));
  EXPECT_TRUE(std::equal(flash.begin() + kBankBStart, flash.begin() + kFlashLayoutSize,
                         update.flash.begin() + kBankBStart));
  EXPECT_FALSE(ConstHalvernNcb(flash.data()).active());
}

// The old block is deactivated in place (its state bits cleared, nothing erased): a failure
// leaves it as it was, active, and readers take it (NCB0) with the old firmware, whole.
TEST(Type2PerformUpdate, AFailedDeactivationRetriesOnlyTheOldBlock) {
  struct Case {
    const char* what;
    int failures;  // programs of the old block's state that fail
    FlashUpdateStatus status;
    NcbState oldState;
    uint32_t taken;
    FirmwareVersion version;
  };
  const Case cases[] = {
      {"once", 1, kStatusSuccess, NcbState::kDeactivated, kNcb1Address, test::kNewVersion},
      {"twice", 2, kStatusFlashWriteFailed, NcbState::kActive, kNcb0Address, test::kOldVersion},
  };
  for (const Case& c : cases) {
    const test::UpdateCase update = test::sweepCase("type2_ncb0_active");
    Prepared p;
    prepare(p, update);
    test::UpdateBench bench;
    bench.load(update.flash);
    FlashDecorator faulty(bench.flash());
    // The programs of the old block (NCB0): its deactivation.
    faulty.failCallsIn(Kind::kWrite, kNcb0Address, kNcb0Address + kNcbBlockSize, 1, c.failures);
    EXPECT_EQ(type2PerformUpdate(faulty, p.ncb0(), p.ncb1(), p.data), c.status) << c.what;
    const auto bankErases =
        std::count_if(faulty.calls.begin(), faulty.calls.end(),
                      [](const FlashCall& x) { return x.kind == Kind::kEraseBlock; });
    EXPECT_EQ(bankErases, 15) << c.what << ": the new bank is erased once";
    const auto oldBlockErases =
        std::count_if(faulty.calls.begin(), faulty.calls.end(),
                      [](const FlashCall& x) { return isErase(x) && inBlock(x, kNcb0Address); });
    EXPECT_EQ(oldBlockErases, 0) << c.what;
    const std::vector<uint8_t> flash = bench.contents();
    const test::FlashReading reading = test::readAsReader(flash);
    EXPECT_TRUE(reading.usable) << c.what << ": " << reading.problem;
    EXPECT_EQ(reading.activeAddress, c.taken) << c.what;
    EXPECT_EQ(reading.version, c.version) << c.what;
    EXPECT_EQ(ConstHalvernNcb(flash.data()).state(), c.oldState) << c.what;
  }
}

// A part that reports a program as done while a byte keeps another value: the block that would
// describe that byte is never written, and the update does not report success.
TEST(Type2PerformUpdate, AComponentThatReadsBackWrongIsNeverActivated) {
  const test::UpdateCase update = test::sweepCase("type2_ncb0_active");
  const image::ImageSpec imageSpec = test::smallUpdateImageSpec();
  for (std::size_t part = 0; part < kAllNcbComponents.size(); ++part) {
    // Where the part lands in bank B, one byte in.
    uint32_t address = kBankBStart;
    for (std::size_t i = 0; i < part; ++i)
      address += (imageSpec.ncbs[0].sizes[i] + 0xFF) & ~0xFFu;
    Prepared p;
    prepare(p, update);
    test::UpdateBench bench;
    bench.load(update.flash);
    FlashDecorator faulty(bench.flash());
    faulty.corruptWriteAt = address + 1;
    EXPECT_EQ(type2PerformUpdate(faulty, p.ncb0(), p.ncb1(), p.data), kStatusFlashWriteFailed)
        << ncbComponentName(kAllNcbComponents[part]);
    EXPECT_TRUE(std::none_of(
        faulty.calls.begin(), faulty.calls.end(),
        [](const FlashCall& x) { return x.kind == Kind::kWrite && x.address < kBankAStart; }))
        << ncbComponentName(kAllNcbComponents[part]) << ": no block was written";
    const test::FlashReading reading = test::readAsReader(bench.contents());
    EXPECT_TRUE(reading.usable) << reading.problem;
    EXPECT_EQ(reading.version, test::kOldVersion);
  }
}

TEST(Type2PerformUpdate, ANewBlockThatCannotBeBuiltWritesNothing) {
  const test::UpdateCase update = test::sweepCase("type2_ncb0_active");
  Prepared p;
  prepare(p, update);
  // Areas A, B, C and E take 0x800..0xBFF: an areaD of 0x3401 bytes passes the block's end.
  const std::vector<uint8_t> bigArea(0x3401, 0x5A);
  p.data.areaDData = bigArea.data();
  p.data.areaDLength = static_cast<uint16_t>(bigArea.size());
  test::UpdateBench bench;
  bench.load(update.flash);
  FlashDecorator recorder(bench.flash());
  EXPECT_EQ(type2PerformUpdate(recorder, p.ncb0(), p.ncb1(), p.data), kStatusNcbBuildFailed);
  EXPECT_TRUE(recorder.callsOf(Kind::kWrite).empty());
  EXPECT_TRUE(std::none_of(recorder.calls.begin(), recorder.calls.end(), isErase));
}

TEST(BuildNewNcb, AreasEndingExactlyAtTheBlocksEndFit) {
  const test::UpdateCase update = test::sweepCase("type2_ncb0_active");
  Prepared p;
  prepare(p, update);
  const ConstHalvernNcb active = p.ncb0();
  std::vector<uint8_t> block(kNcbBlockSize);
  // Areas A, B, C take 0x800..0xAFF (A 0x40, B 0x20, C 0x40 bytes, each on its own 0x100),
  // area E its page at 0xB00; area D may then run to 0x4000.
  std::vector<uint8_t> areaD(0x4000 - 0xC00, 0x77);
  p.data.areaDData = areaD.data();
  p.data.areaDLength = static_cast<uint16_t>(areaD.size());
  ASSERT_TRUE(buildNewNcb(active, HalvernNcb(block.data()), kNcb1Address, p.data));
  EXPECT_EQ(HalvernNcb(block.data()).areaD(), (NcbAreaDescriptor{0xC00, 0x3400}));
  EXPECT_EQ(HalvernNcb(block.data()).size(), 0x4000);
  areaD.push_back(0x77);
  p.data.areaDData = areaD.data();
  p.data.areaDLength = static_cast<uint16_t>(areaD.size());
  EXPECT_FALSE(buildNewNcb(active, HalvernNcb(block.data()), kNcb1Address, p.data));
}

}  // namespace
}  // namespace hlv
