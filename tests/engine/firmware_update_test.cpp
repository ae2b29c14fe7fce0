// The firmware update entry: every refusal before a write, the legacy flags, an interrupted
// transform completed and a second active block replaced.
#include "engine/firmware_update.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/ncb.h"
#include "tests/engine/flash_doubles.h"
#include "tests/support/reference_layout.h"
#include "tests/engine/update_harness.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::FlashCall;
using test::FlashDecorator;
using test::UpdateCase;
using Kind = test::FlashCall::Kind;

bool modifies(const FlashCall& call) {
  return call.kind != Kind::kRead;
}

// A part that cannot be claimed.
class UnreadyFlash : public test::NorMemoryFlash {
 public:
  bool init() override { return false; }
};

// The flash before an update: NCB0 active over bank A with the old firmware.
image::ImageSpec flashSpec() {
  image::ImageSpec spec;
  spec.ncbs[0].sizes = test::kSmallComponents;
  spec.ncbs[0].firmware.version = test::kOldVersion;
  return spec;
}

struct Refusal {
  const char* what;
  std::function<void(image::ImageSpec&)> flash;
  std::function<void(image::ImageSpec&)> image;
  std::function<void(UpdateCase&)> input;
  FlashUpdateStatus status;
  test::Geometry geometry = {};
};

// Every refusal leaves the flash exactly as it was: not one program or erase.
TEST(UpdateFirmware, EveryRefusalLeavesTheFlashUntouched) {
  const auto same = [](image::ImageSpec&) {};
  const auto asIs = [](UpdateCase&) {};
  auto legacyFlashWithout = [](FirmwareVersion running) {
    return [=](image::ImageSpec& s) {
      s.ncbs[0].areas[3].kind = image::AreaSpec::Kind::kNone;
      s.ncbs[0].firmware.version = running;
      s.ncbs[0].sets = {{0x3A, {0x11, 0x11}}};  // a macCrc the table does not know
    };
  };
  const Refusal cases[] = {
      {"image one byte short", same, same,
       [](UpdateCase& c) { c.image.resize(kFlashLayoutSize - 1); }, kStatusImageInvalid},
      {"both image blocks invalid", same,
       [](image::ImageSpec& s) {
         s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad;
         s.ncbs[1] = s.ncbs[0];
       },
       asIs, kStatusNcbInvalid},
      {"image without an active block", same,
       [](image::ImageSpec& s) { s.ncbs[0].state = NcbState::kDeactivated; }, asIs,
       kStatusImageInvalid},
      {"blank flash", [](image::ImageSpec& s) { s.ncbs[0].erased = true; }, same, asIs,
       kStatusNoValidActiveNcb},
      {"active flash block with a bad CRC",
       [](image::ImageSpec& s) { s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad; }, same, asIs,
       kStatusNoValidActiveNcb},
      {"flash firmware without a version", [](image::ImageSpec& s) { s.ncbs[0].sizes[1] = 0x127; },
       same, asIs, kStatusVersionUnreadable},
      {"image firmware without a version", same,
       [](image::ImageSpec& s) {
         s.ncbs[0].firmware.version = {9, 0, 0};
       },
       asIs, kStatusVersionUnreadable},
      {"legacy flags undecidable on 1.5.86", legacyFlashWithout({1, 5, 86}), same, asIs,
       kStatusNcbNotUsable},
      {"blob D too short for its terminator", same, same,
       [](UpdateCase& c) {
         c.blobD = {1, 2};
       },
       kStatusNcbNotUsable},
      {"blob E too short for its terminator", same, same, [](UpdateCase& c) { c.blobE = {1}; },
       kStatusNcbNotUsable},
      {"blob D of 64 KiB taken as it is", same, same,
       [](UpdateCase& c) {
         c.subsystemVendorId = 0x1028;
         c.blobD.assign(0x10000, 0x44);
       },
       kStatusNcbBuildFailed},
      {"blob D too long for an area", same, same, [](UpdateCase& c) { c.blobD.assign(0x3800, 0); },
       kStatusNcbBuildFailed},
      {"type-1 layout, areas too long for a new block",
       [](image::ImageSpec& s) {
         s.ncbs[0].bank = image::Bank::kB;
         s.ncbs[0].freeAreaOtherBank = true;
       },
       same, [](UpdateCase& c) { c.blobD.assign(0x3500, 0); }, kStatusNcbBuildFailed},
      {"image block with a component in the blocks", same,
       [](image::ImageSpec& s) { s.ncbs[0].offsets[4] = 0x7000; }, asIs, kStatusNcbInvalid},
      {"image component not matching its CRC", same,
       [](image::ImageSpec& s) { s.ncbs[0].phyCrc.kind = image::CrcSpec::Kind::kBad; }, asIs,
       kStatusComponentCrcMismatch},
      {"image components larger than a bank", same,
       [](image::ImageSpec& s) {
         s.ncbs[0].sizes = {0x20000, 0x80000, 0x20000, 0x1C000, 0x20100};
       },
       asIs, kStatusFreeAreaTooSmall},
      {"a part of 1 MiB", same, same, asIs, kStatusSectorSizeUnsuitable,
       test::Geometry{256, 0x1000, 0x10000, true, 0x100000}},
      {"sectors larger than a block", same, same, asIs, kStatusSectorSizeUnsuitable,
       test::Geometry{256, 0x8000, 0x10000, true, 0x200000}},
      {"type-2 layout with overlapping components",
       [](image::ImageSpec& s) { s.ncbs[0].offsets[4] = 0x8880; }, same, asIs,
       kStatusRegionsOverlap},
      // Without a free area the block counts as type 2, but the update would erase bank B.
      {"NCB0 without a free area over bank B",
       [](image::ImageSpec& s) { s.ncbs[0].bank = image::Bank::kB; }, same, asIs,
       kStatusComponentOutsideBank},
      {"NCB0 with its option ROM in bank B",
       [](image::ImageSpec& s) { s.ncbs[0].offsets[4] = 0x150000; }, same, asIs,
       kStatusComponentOutsideBank},
      {"NCB1 with MAC part 2 in bank A",
       [](image::ImageSpec& s) {
         s.ncbs[0].erased = true;
         s.ncbs[1] = s.ncbs[0];
         s.ncbs[1].erased = false;
         s.ncbs[1].bank = image::Bank::kB;
         s.ncbs[1].offsets[1] = 0x20000;
       },
       same, asIs, kStatusComponentOutsideBank},
      {"type-1 layout, free area too small",
       [](image::ImageSpec& s) {
         s.ncbs[0].bank = image::Bank::kB;
         s.ncbs[0].freeArea = NcbRegion{0x8000, 0x800};
       },
       same, asIs, kStatusFreeAreaTooSmall},
      {"type-1 layout, free area across the banks",
       [](image::ImageSpec& s) {
         s.ncbs[0].offsets = {0x180000, 0x180200, 0x180600, 0x180800, 0x180900};
         s.ncbs[0].freeArea = NcbRegion{0x100000, 0x10000};
       },
       same, asIs, kStatusFreeAreaAcrossBanks},
      {"type-1 layout, free area over a component",
       [](image::ImageSpec& s) {
         s.ncbs[0].bank = image::Bank::kB;
         s.ncbs[0].freeArea = NcbRegion{0x8000, 0xFD000};
       },
       same, asIs, kStatusRegionsOverlap},
  };
  for (const Refusal& r : cases) {
    image::ImageSpec flash = flashSpec();
    r.flash(flash);
    image::ImageSpec image = test::smallUpdateImageSpec();
    r.image(image);
    UpdateCase c = test::sweepCase("type2_ncb0_active");
    c.flash = image::buildImage(flash);
    c.image = image::buildImage(image);
    r.input(c);
    test::NorMemoryFlash part(r.geometry);
    std::copy(c.flash.begin(),
              c.flash.begin() + std::min<std::size_t>(c.flash.size(), part.contents.size()),
              part.contents.begin());
    const std::vector<uint8_t> before = part.contents;
    FlashDecorator recorder(part);
    EXPECT_EQ(updateFirmware(recorder, c.input()), r.status) << r.what;
    EXPECT_TRUE(std::none_of(recorder.calls.begin(), recorder.calls.end(), modifies)) << r.what;
    EXPECT_TRUE(part.contents == before) << r.what;
  }
}

TEST(UpdateFirmware, AnUnreadyFlashInterfaceIsReported) {
  const UpdateCase c = test::sweepCase("type2_ncb0_active");
  UnreadyFlash part;
  EXPECT_EQ(updateFirmware(part, c.input()), kStatusFlashInitFailed);
}

// Legacy boards on firmware after 1.5.86 whose CRC the table does not know: flag D is 0 and the
// update goes on.
TEST(UpdateFirmware, NewLegacyFirmwareWithAnUnknownCrcUpdatesWithFlagDClear) {
  image::ImageSpec flash = flashSpec();
  flash.ncbs[0].areas[3].kind = image::AreaSpec::Kind::kNone;
  flash.ncbs[0].firmware.version = {1, 5, 87};
  flash.ncbs[0].sets = {{0x3A, {0x11, 0x11}}};
  UpdateCase c = test::sweepCase("type2_ncb0_active");
  c.flash = image::buildImage(flash);
  c.oldVersion = {1, 5, 87};
  test::UpdateBench bench;
  bench.load(c.flash);
  ASSERT_EQ(updateFirmware(bench.flash(), c.input()), kStatusSuccess);
  const std::vector<uint8_t> after = bench.contents();
  const ConstHalvernNcb ncb1(after.data() + kNcb1Address);
  const NcbAreaDescriptor areaD = ncb1.areaD();
  ASSERT_EQ(areaD.length, c.blobD.size() + 0x14);
  const std::vector<uint8_t> record(after.begin() + kNcb1Address + areaD.offset + areaD.length - 24,
                                    after.begin() + kNcb1Address + areaD.offset + areaD.length);
  EXPECT_EQ(record, image::areaDRecord(false));
}

// A power cut between the transform's target activation and the source's deactivation leaves
// both blocks active: NCB0 over bank A, NCB1 still the type-1 source with its free area in
// bank A. The next update takes NCB0 and completes.
TEST(UpdateFirmware, AnInterruptedTransformIsCompletedByTheNextUpdate) {
  const UpdateCase row4 = test::sweepCase("row4_ncb0_active_free_a");
  std::vector<uint8_t> interrupted;
  {
    test::UpdateBench bench;
    bench.load(row4.flash);
    // The duplicate (4 erases, 64 + 1 + 1 + 1 programs: body, imageTag, CRC, state), the free
    // area (bank A: 8 + 15 + 4 erases), the components (2 + 4 + 2 + 1 + 3 programs), the target
    // (its active state cleared first, 4 erases, 64 + 1 + 1 + 1 programs).
    bench.cutPowerAfter(71 + 27 + 12 + 72);
    EXPECT_NE(updateFirmware(bench.flash(), row4.input()), kStatusSuccess);
    interrupted = bench.contents();
  }
  const ConstHalvernNcb ncb0(interrupted.data());
  const ConstHalvernNcb ncb1(interrupted.data() + kNcb1Address);
  ASSERT_TRUE(ncb0.active());
  ASSERT_TRUE(ncb1.active());
  ASSERT_EQ(ncb0.freeSize(), 0u);
  ASSERT_EQ(ncb1.freeOffset(), kBankAStart) << "NCB1 is still the source";
  EXPECT_EQ(checkType2Layout(ncb0, ncb1), kStatusSuccess);

  test::UpdateBench bench;
  bench.load(interrupted);
  ASSERT_EQ(updateFirmware(bench.flash(), row4.input()), kStatusSuccess);
  const test::FlashReading reading = test::readAsReader(bench.contents());
  EXPECT_TRUE(reading.usable) << reading.problem;
  EXPECT_EQ(reading.activeAddress, kNcb1Address);
  EXPECT_EQ(reading.version, test::kNewVersion);
}

TEST(CheckType2Layout, TheBlockReadersTakeMustLieInItsOwnBankTheOtherIsNotLookedAt) {
  struct Case {
    const char* what;
    std::function<void(image::ImageSpec&)> change;
    FlashUpdateStatus status;
  };
  const Case cases[] = {
      {"NCB0 over bank A", [](image::ImageSpec&) {}, kStatusSuccess},
      {"NCB0 over bank A with a free area in bank B",
       [](image::ImageSpec& s) {
         s.ncbs[0].freeArea = NcbRegion{0x150000, 0x1000};
       },
       kStatusSuccess},
      {"NCB0 with its ROM ending at bank B",
       [](image::ImageSpec& s) { s.ncbs[0].offsets[4] = 0x103D00; }, kStatusSuccess},
      {"NCB0 with its ROM running into bank B",
       [](image::ImageSpec& s) { s.ncbs[0].offsets[4] = 0x103F00; }, kStatusComponentOutsideBank},
      {"NCB0 with MAC part 2 in bank B",
       [](image::ImageSpec& s) { s.ncbs[0].offsets[1] = 0x110000; }, kStatusComponentOutsideBank},
      {"NCB0 overlapping itself", [](image::ImageSpec& s) { s.ncbs[0].offsets[3] = 0x8300; },
       kStatusRegionsOverlap},
      {"NCB1 active alone over bank B",
       [](image::ImageSpec& s) {
         s.ncbs[0].state = NcbState::kDeactivated;
         s.ncbs[1] = s.ncbs[0];
         s.ncbs[1].state = NcbState::kActive;
       },
       kStatusSuccess},
      {"NCB1 active alone over bank A",
       [](image::ImageSpec& s) {
         s.ncbs[0].state = NcbState::kDeactivated;
         s.ncbs[1] = s.ncbs[0];
         s.ncbs[1].state = NcbState::kActive;
         s.ncbs[1].bank = image::Bank::kA;
       },
       kStatusComponentOutsideBank},
      {"second active block over bank B with its free area in bank A",
       [](image::ImageSpec& s) {
         s.ncbs[1] = s.ncbs[0];
         s.ncbs[1].freeAreaOtherBank = true;
       },
       kStatusSuccess},
      {"second active block over bank A",
       [](image::ImageSpec& s) {
         s.ncbs[1] = s.ncbs[0];
         s.ncbs[1].bank = image::Bank::kA;
       },
       kStatusSuccess},
      // The update replaces it: where its components lie does not matter.
      {"second active block from bank A into bank B",
       [](image::ImageSpec& s) {
         s.ncbs[1] = s.ncbs[0];
         s.ncbs[1].bank = image::Bank::kA;
         s.ncbs[1].offsets[4] = 0x150000;
       },
       kStatusSuccess},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec = flashSpec();
    spec.ncbs[1].erased = true;
    c.change(spec);
    const std::vector<uint8_t> flash = image::buildImage(spec);
    EXPECT_EQ(checkType2Layout(ConstHalvernNcb(flash.data()),
                               ConstHalvernNcb(flash.data() + kNcb1Address)),
              c.status)
        << c.what;
  }
}

// A flash with two active blocks updates from the block readers take; the other one is
// replaced, whatever it holds. `flash` crafts the state, the update must complete exactly as the
// layout's rules say.
TEST(UpdateFirmware, ASecondActiveBlockIsReplacedWhateverItHolds) {
  // NCB1's areas fit NCB1, but with the board's configuration bytes (blobD below) they would
  // not fit a new block.
  auto oversizedAreas = [](image::NcbSpec& ncb) {
    ncb.areas[0].kind = image::AreaSpec::Kind::kFilled;
    ncb.areas[0].length = 0x3100;
  };
  struct Case {
    const char* what;
    std::function<void(image::ImageSpec&)> flash;
  };
  const Case cases[] = {
      {"type-2 layout, NCB1 active beside NCB0 with oversized areas",
       [&](image::ImageSpec& s) {
         s.ncbs[1] = s.ncbs[0];
         s.ncbs[1].seed = 7;
         oversizedAreas(s.ncbs[1]);
       }},
      // The transform's third row: NCB0 over bank B with bank A free, NCB1 the source.
      {"transform from NCB1, whose areas are oversized",
       [&](image::ImageSpec& s) {
         s.ncbs[0].bank = image::Bank::kB;
         s.ncbs[0].freeAreaOtherBank = true;
         s.ncbs[1] = s.ncbs[0];
         oversizedAreas(s.ncbs[1]);
       }},
      // A power cut between the transform's target activation and the source's retirement:
      // NCB0 over bank A, NCB1 still the source, its free area in bank A and its components on
      // both sides of the border.
      {"interrupted transform whose source straddles the banks",
       [](image::ImageSpec& s) {
         s.ncbs[1] = s.ncbs[0];
         s.ncbs[1].offsets = {0xF0000, 0x150000, 0x160000, 0x170000, 0x180000};
         s.ncbs[1].freeArea = NcbRegion{0x8000, 0xE0000};
       }},
  };
  for (const Case& c : cases) {
    image::ImageSpec flash = flashSpec();
    c.flash(flash);
    UpdateCase u = test::sweepCase("type2_ncb0_active");
    u.flash = image::buildImage(flash);
    u.subsystemVendorId = 0x1028;  // the blobs go into the new block as they are
    u.blobD.assign(0x500, 0x44);
    test::UpdateBench bench;
    bench.load(u.flash);
    EXPECT_EQ(updateFirmware(bench.flash(), u.input()), kStatusSuccess) << c.what;
    EXPECT_TRUE(bench.contents() == test::referenceUpdate(u.flash, u.image, u.blobD, u.blobE))
        << c.what;
    EXPECT_EQ(bench.adapter().violations(), 0u) << c.what;
  }
}

}  // namespace
}  // namespace hlv
