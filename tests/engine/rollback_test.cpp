// The rollback to the previous block: the switch, its refusals and failures, and a rollback cut
// short finished from its backup.
#include "engine/rollback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "engine/firmware_update.h"
#include "engine/firmware_version.h"
#include "engine/ncb.h"
#include "engine/type1_transform.h"
#include "tests/engine/flash_doubles.h"
#include "tests/support/reference_layout.h"
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
        {Kind::kWrite, c.previous + 2, 2},  // its imageTag
        {Kind::kWrite, c.previous, 2},      // its CRC
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
    image::ImageSpec spec = test::updatedSpec();
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
      {"previous block's imageTag not programmed",
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kWrite, 2); },
       Taken::kCurrent},
      {"previous block's CRC not programmed",
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kWrite, 3); },
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
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kWrite, 4); },
       Taken::kCurrent},
      {"current block's state not cleared",
       [](FlashDecorator& f, uint32_t, uint32_t) { f.failCalls(Kind::kWrite, 5, 2); },
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

// The block a rollback of `flash` activates, and the one it deactivates.
struct Roles {
  uint32_t previous;
  uint32_t current;
};
Roles rolesOf(const std::vector<uint8_t>& flash) {
  const uint32_t current = test::readAsReader(flash).activeAddress;
  return {current == kNcb0Address ? kNcb1Address : kNcb0Address, current};
}

// What a rollback cut short while it rewrote the previous block's first sector (4 KiB here) may
// leave of it; `backup` is the flash before that rollback.
using SectorDamage = std::function<void(std::vector<uint8_t>& flash,
                                        const std::vector<uint8_t>& backup, uint32_t previous)>;
struct DamageShape {
  const char* what;
  SectorDamage damage;
};
constexpr uint32_t kSector = 0x1000;

void eraseFirstSector(std::vector<uint8_t>& flash, uint32_t previous) {
  std::fill_n(flash.begin() + previous, kSector, 0xFF);
}
// The first sector as the activating write leaves it after programming bytes [from, to) with the
// active block's bytes.
void programmedUpTo(std::vector<uint8_t>& flash, const std::vector<uint8_t>& backup,
                    uint32_t previous, uint32_t from, uint32_t to) {
  eraseFirstSector(flash, previous);
  std::vector<uint8_t> active = test::referenceRollback(backup);
  std::copy(active.begin() + previous + from, active.begin() + previous + to,
            flash.begin() + previous + from);
}

const DamageShape kLostFirstSectors[] = {
    {"erased", [](auto& f, const auto&, uint32_t p) { eraseFirstSector(f, p); }},
    {"body half programmed", [](auto& f, const auto& b, uint32_t p) { programmedUpTo(f, b, p, 4, 0x800); }},
    {"body programmed, head erased",
     [](auto& f, const auto& b, uint32_t p) { programmedUpTo(f, b, p, 4, kSector); }},
    {"body programmed, head torn: only the CRC's low byte programmed",
     [](auto& f, const auto& b, uint32_t p) {
       programmedUpTo(f, b, p, 4, kSector);
       f[p] = test::referenceRollback(b)[p];
     }},
    {"erase cut short: the start erased, the rest as before",
     [](auto& f, const auto&, uint32_t p) { std::fill_n(f.begin() + p, 0x100, 0xFF); }},
    {"state cleared, then an erase cut short left a run in the middle erased",
     [](auto& f, const auto&, uint32_t p) {
       f[p + 3] &= 0x3F;
       std::fill_n(f.begin() + p + 0x800, 0x100, 0xFF);
     }},
    {"body and imageTag programmed, CRC erased",
     [](auto& f, const auto& b, uint32_t p) {
       programmedUpTo(f, b, p, 4, kSector);
       const std::vector<uint8_t> active = test::referenceRollback(b);
       f[p + 2] = active[p + 2];
       f[p + 3] = active[p + 3] | 0xC0;
     }},
    {"body programmed, imageTag torn",
     [](auto& f, const auto& b, uint32_t p) {
       programmedUpTo(f, b, p, 4, kSector);
       f[p + 2] = test::referenceRollback(b)[p + 2] | 0xF0;
     }},
};

// The flashes a rollback starts from: after an update in each direction, and with both blocks
// active, as a rollback cut after it activated NCB1 and before it deactivated NCB0 leaves them
// (readers take NCB0; the ordinary rollback takes NCB1 as its target).
struct RollbackStart {
  std::string name;
  std::vector<uint8_t> flash;
};
std::vector<RollbackStart> rollbackStarts() {
  std::vector<RollbackStart> starts;
  for (const char* name : kUpdatedFlashes)
    starts.push_back({name, test::sweepCase(name).flash});
  std::vector<uint8_t> both = test::sweepCase("type2_ncb0_active").flash;
  HalvernNcb(both.data() + kNcb1Address).setState(NcbState::kActive);
  starts.push_back({"both active, NCB1 the target", both});
  return starts;
}

// The rollback such a cut interrupted is finished from the backup: the flash ends exactly as the
// uninterrupted rollback left the backup's flash, and the backup gives the version it restores.
TEST(RollbackFromBackup, FinishesARollbackWhosePreviousFirstSectorWasLost) {
  for (const RollbackStart& start : rollbackStarts()) {
    const std::string& name = start.name;
    const std::vector<uint8_t>& backup = start.flash;
    const Roles roles = rolesOf(backup);
    FirmwareVersion expected;
    {
      test::NorMemoryFlash part;
      loadPart(part, test::referenceRollback(backup));
      ASSERT_EQ(readCurrentVersion(part, expected), kStatusSuccess);
    }
    for (const DamageShape& shape : kLostFirstSectors) {
      SCOPED_TRACE(name + ": " + shape.what);
      test::NorMemoryFlash part;
      std::vector<uint8_t> left = backup;
      shape.damage(left, backup, roles.previous);
      loadPart(part, left);
      FirmwareVersion lost;
      ASSERT_NE(readPreviousVersion(part, lost), kStatusSuccess) << "the shape keeps a target";
      ASSERT_NE(rollbackToPreviousImage(part), kStatusSuccess);
      ASSERT_TRUE(part.contents == left);

      RollbackPlan plan;
      ASSERT_EQ(planRollback(part, backup, plan), kStatusSuccess);
      EXPECT_EQ(plan.previous, expected);
      EXPECT_EQ(plan.activateAddress, roles.previous);
      EXPECT_EQ(plan.deactivateAddress, roles.current);
      EXPECT_TRUE(part.contents == left) << "the check wrote";
      ASSERT_EQ(rollbackFromBackup(part, backup), kStatusSuccess);
      EXPECT_TRUE(part.contents == test::referenceRollback(backup));
    }
  }
}

// An erase cut short at bit level may raise some bits of a byte and not others: the state bits of
// a deactivated NCB0 (0b00) then read 0b01 or 0b10, active over a sector no longer whole, and
// readers take it. The rollback that erased it (NCB1 current, NCB0 its target) is still finished
// from its backup, in which readers took NCB1; a backup in which they took NCB0 still is not.
TEST(RollbackFromBackup, FinishesARollbackWhoseCutLeftNcb0ReadingActive) {
  const std::vector<uint8_t> backup = test::sweepCase("type2_ncb1_active").flash;
  ASSERT_EQ(rolesOf(backup).previous, kNcb0Address);
  for (const uint8_t state : {0x40, 0x80}) {
    SCOPED_TRACE(state == 0x40 ? "0b01" : "0b10");
    std::vector<uint8_t> left = backup;
    for (uint32_t i = 0; i < kSector; ++i)  // some bits of every byte erased
      left[i] |= static_cast<uint8_t>(0x11 << (i % 4));
    left[3] = static_cast<uint8_t>((left[3] & 0x3F) | state);
    ASSERT_FALSE(test::readAsReader(left).usable) << "readers take the torn NCB0";
    test::NorMemoryFlash part;
    loadPart(part, left);
    ASSERT_NE(rollbackToPreviousImage(part), kStatusSuccess);
    ASSERT_TRUE(part.contents == left);

    RollbackPlan plan;
    ASSERT_EQ(planRollback(part, backup, plan), kStatusSuccess);
    EXPECT_EQ(plan.activateAddress, kNcb0Address);
    EXPECT_EQ(plan.deactivateAddress, kNcb1Address);
    EXPECT_EQ(plan.current, test::readAsReader(backup).version);
    EXPECT_TRUE(part.contents == left) << "the check wrote";
    ASSERT_EQ(rollbackFromBackup(part, backup), kStatusSuccess);
    EXPECT_TRUE(part.contents == test::referenceRollback(backup));
  }
}

// A real rollback on the emulated adapter, cut after and during each of its commands: wherever
// the flash keeps no previous firmware the backup finishes the job exactly as the uninterrupted
// rollback; wherever it keeps one, the backup is refused and changes nothing.
TEST(RollbackFromBackup, FinishesEveryRollbackCutWhileItRewroteThePreviousBlock) {
  for (const RollbackStart& start : rollbackStarts()) {
    const std::string& name = start.name;
    const std::vector<uint8_t>& backup = start.flash;
    uint64_t commands = 0;
    {
      test::UpdateBench bench;
      bench.load(backup);
      ASSERT_EQ(rollbackToPreviousImage(bench.flash()), kStatusSuccess);
      commands = bench.modifyingTransfers();
    }
    const std::vector<uint8_t> rolledBack = test::referenceRollback(backup);
    const uint32_t current = rolesOf(backup).current;
    int finished = 0;
    for (uint64_t n = 1; n <= commands; ++n) {
      for (uint64_t seed = 0; seed <= 4; ++seed) {  // seed 0: cut after the command
        SCOPED_TRACE(name + ", command " + std::to_string(n) + ", seed " +
                     std::to_string(seed));
        test::UpdateBench bench;
        bench.load(backup);
        if (seed == 0) {
          bench.cutPowerAfter(n);
        } else {
          bench.cutPowerDuring(n, seed);
        }
        (void)rollbackToPreviousImage(bench.flash());
        bench.restart();
        const std::vector<uint8_t> left = bench.contents();
        const test::FlashReading reading = test::readAsReader(left);
        ASSERT_TRUE(reading.usable) << reading.problem;
        FirmwareVersion previous;
        const bool keepsTarget = readPreviousVersion(bench.flash(), previous) == kStatusSuccess;
        const FlashUpdateStatus status = rollbackFromBackup(bench.flash(), backup);
        if (keepsTarget) {
          EXPECT_NE(status, kStatusSuccess);
          EXPECT_TRUE(bench.contents() == left);
          // Where readers still take the block the rollback was leaving, the ordinary rollback
          // of what the cut left finishes the job to the very bytes: a block whose head the cut
          // left half written (its imageTag among them) is no target.
          if (reading.activeAddress == current) {
            ASSERT_EQ(rollbackToPreviousImage(bench.flash()), kStatusSuccess);
            EXPECT_TRUE(bench.contents() == rolledBack);
          }
          continue;
        }
        ASSERT_EQ(status, kStatusSuccess);
        EXPECT_TRUE(bench.contents() == rolledBack);
        ++finished;
      }
    }
    EXPECT_GT(finished, 0) << "no cut lost the previous block";
  }
}

// A backup that does not describe this flash, or that is not needed, is refused before the flash
// is touched.
TEST(RollbackFromBackup, RefusesABackupThatDoesNotFitWithoutTouchingTheFlash) {
  const std::vector<uint8_t> backup = test::sweepCase("type2_ncb0_active").flash;
  const Roles roles = rolesOf(backup);
  std::vector<uint8_t> lost = backup;
  eraseFirstSector(lost, roles.previous);
  using Change = std::function<void(std::vector<uint8_t>& flash, std::vector<uint8_t>& backup)>;
  struct Case {
    const char* what;
    Change change;
    FlashUpdateStatus status;
  };
  const auto flip = [](std::vector<uint8_t>& bytes, uint32_t at) { bytes[at] ^= 0x01; };
  // A bit programmed on the flash where the backup's is erased: no rollback of the backup's
  // flash writes that.
  const uint32_t setBit = [&] {
    uint32_t at = roles.previous + 0x10;
    while (backup[at] == 0) ++at;
    return at;
  }();
  const Case cases[] = {
      {"a backup one byte short", [](auto&, auto& b) { b.pop_back(); }, kStatusBackupMismatch},
      {"a backup one byte long", [](auto&, auto& b) { b.push_back(0xFF); }, kStatusBackupMismatch},
      {"a backup of a single byte", [](auto&, auto& b) { b.resize(1); }, kStatusBackupMismatch},
      {"the current block differs in its last byte",
       [&](auto&, auto& b) { flip(b, roles.current + kNcbBlockSize - 1); }, kStatusBackupMismatch},
      {"the current block differs in its state",
       [&](auto&, auto& b) { b[roles.current + 3] &= 0x3F; }, kStatusBackupMismatch},
      {"the previous block differs right after its first sector",
       [&](auto&, auto& b) { flip(b, roles.previous + kSector); }, kStatusBackupMismatch},
      {"a bit of the lost sector programmed where the backup's is erased",
       [&](auto& f, auto&) {
         f[setBit] = static_cast<uint8_t>(~(backup[setBit] & -backup[setBit]));
       },
       kStatusBackupMismatch},
      {"the lost sector holds another block's bytes",
       [&](auto& f, auto&) {
         std::copy_n(backup.begin() + roles.current, kSector, f.begin() + roles.previous);
       },
       kStatusBackupMismatch},
      {"the backup's previous block fails its CRC",
       [&](auto&, auto& b) { flip(b, roles.previous + 0x10); }, kStatusNcbInvalid},
      {"the flash's previous bank has one wrong byte",
       [&](auto& f, auto&) {
         const ConstHalvernNcb previous(backup.data() + roles.previous);
         flip(f, previous.component(NcbComponent::kMacPart2).offset + 7);
       },
       kStatusNcbInvalid},
      {"the flash keeps its previous block", [&](auto& f, auto&) { f = backup; },
       kStatusBackupMismatch},
      {"the flash keeps its previous block, not active yet (head programmed, state not)",
       [&](auto& f, auto&) {
         f = backup;
         f[roles.previous + 3] |= 0xC0;
       },
       kStatusBackupMismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> flash = lost;
    std::vector<uint8_t> offered = backup;
    c.change(flash, offered);
    test::NorMemoryFlash part;
    loadPart(part, flash);
    FlashDecorator recorder(part);
    RollbackPlan plan;
    plan.flashId = 0x99;
    EXPECT_EQ(planRollback(recorder, offered, plan), c.status);
    EXPECT_EQ(plan.flashId, 0x99u) << "a refused plan was filled in";
    EXPECT_EQ(rollbackFromBackup(recorder, offered), c.status);
    EXPECT_TRUE(modifyingCalls(recorder).empty());
    EXPECT_TRUE(part.contents == flash);
  }
}

// In the backup, readers must have taken the block the flash runs: a backup in which NCB0 was
// active beside the running NCB1 is of another flash (readers then took NCB0).
TEST(RollbackFromBackup, RefusesABackupInWhichReadersTookAnotherBlock) {
  const std::vector<uint8_t> flash = test::sweepCase("type2_ncb1_active").flash;
  std::vector<uint8_t> lost = flash;
  eraseFirstSector(lost, kNcb0Address);
  std::vector<uint8_t> backup = flash;
  HalvernNcb(backup.data() + kNcb0Address).setState(NcbState::kActive);
  test::NorMemoryFlash part;
  loadPart(part, lost);
  FlashDecorator recorder(part);
  RollbackPlan plan;
  EXPECT_EQ(planRollback(recorder, backup, plan), kStatusBackupMismatch);
  EXPECT_EQ(rollbackFromBackup(recorder, backup), kStatusBackupMismatch);
  EXPECT_TRUE(modifyingCalls(recorder).empty());
  // The same backup with NCB0 deactivated, as the rollback found it, finishes the job.
  HalvernNcb(backup.data() + kNcb0Address).setState(NcbState::kDeactivated);
  EXPECT_EQ(rollbackFromBackup(recorder, backup), kStatusSuccess);
  EXPECT_TRUE(part.contents == test::referenceRollback(flash));
}

}  // namespace
}  // namespace hlv
