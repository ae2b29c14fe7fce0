// The flash a successful update leaves, compared byte for byte with the plain reference.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "engine/firmware_update.h"
#include "tests/support/reference_layout.h"
#include "tests/engine/update_harness.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::UpdateCase;

std::vector<uint8_t> withoutTerminator(std::vector<uint8_t> blob, std::size_t terminator,
                                       const std::vector<uint8_t>& record) {
  if (!blob.empty()) blob.resize(blob.size() - terminator);
  blob.insert(blob.end(), record.begin(), record.end());
  return blob;
}

// The areas the update builds: the blobs with the records appended (legacy boards), or the
// blobs as they are.
std::pair<std::vector<uint8_t>, std::vector<uint8_t>> expectedAreas(const UpdateCase& c, bool flagD,
                                                                    bool flagE) {
  if (c.subsystemVendorId != kLegacySubsystemVendorId ||
      c.subsystemDeviceId != kLegacySubsystemDeviceId)
    return {c.blobD, c.blobE};
  return {withoutTerminator(c.blobD, 4, image::areaDRecord(flagD)),
          withoutTerminator(c.blobE, 2, image::areaERecord(flagE))};
}

struct LayoutCase {
  const char* what;
  std::function<UpdateCase()> make;
  uint32_t jedecId;
  test::ReferenceGeometry geometry;
  bool flagD;  // the flags the flash's active block records
  bool flagE;
};

UpdateCase changedFlash(const char* name, std::function<void(image::ImageSpec&)> change) {
  UpdateCase c = test::sweepCase("type2_ncb0_active");
  image::ImageSpec spec;
  spec.ncbs[0].sizes = test::kSmallComponents;
  spec.ncbs[0].firmware.version = test::kOldVersion;
  spec.ncbs[1].erased = true;
  change(spec);
  c.name = name;
  c.flash = image::buildImage(spec);
  return c;
}

TEST(UpdateLayout, TheFlashAfterASuccessfulUpdateIsExactlyTheLayoutsResult) {
  const test::ReferenceGeometry pages512{512, 0x1000};
  const LayoutCase cases[] = {
      {"NCB0 active: new block in NCB1 over bank B",
       [] { return test::sweepCase("type2_ncb0_active"); },
       0xEF6015,
       {},
       false,
       false},
      {"NCB1 active, blobs as given: new block in NCB0 over bank A",
       [] { return test::sweepCase("type2_ncb1_active"); },
       0xEF6015,
       {},
       true,
       false},
      {"512-byte pages", [] { return test::sweepCase("type2_ncb0_active"); }, 0x1F2700, pages512,
       false, false},
      {"a 4 MiB part",
       [] { return test::sweepCase("type2_ncb1_active"); },
       0xEF4016,
       {},
       true,
       false},
      {"areaB and areaC at one offset, areaF present",
       [] {
         return changedFlash("shared area", [](image::ImageSpec& s) {
           s.ncbs[0].areas[2].offsetField = 0x900;  // areaC's offset = areaB's
           s.ncbs[0].areas[5].kind = image::AreaSpec::Kind::kFilled;
           s.ncbs[0].areas[5].length = 0x123;
           s.ncbs[0].sets = {{0x1C, {1, 2, 3, 4}},  {0x38, {5, 6}},
                             {0x3C, {7, 8, 9, 10}}, {0x4C, {11, 12, 13, 14, 15, 16}},
                             {0x62, {17, 18}},      {0x0A, {19}}};
         });
       },
       0xEF6015,
       {},
       false,
       false},
      {"empty areas A and F",
       [] {
         return changedFlash("empty areas", [](image::ImageSpec& s) {
           s.ncbs[0].areas[0].kind = image::AreaSpec::Kind::kNone;
         });
       },
       0xEF6015,
       {},
       false,
       false},
      {"no option ROM in the image",
       [] {
         UpdateCase c = test::sweepCase("type2_ncb0_active");
         image::ImageSpec spec = test::smallUpdateImageSpec();
         spec.ncbs[0].sizes[4] = 0;
         c.image = image::buildImage(spec);
         return c;
       },
       0xEF6015,
       {},
       false,
       false},
      {"the old block's free area is cleared",
       [] {
         return changedFlash("free area", [](image::ImageSpec& s) {
           s.ncbs[0].freeArea = NcbRegion{0x180000, 0x10000};
         });
       },
       0xEF6015,
       {},
       false,
       false},
      {"row 1",
       [] { return test::sweepCase("row1_both_active_free_b"); },
       0xEF6015,
       {},
       false,
       false},
      {"row 2",
       [] { return test::sweepCase("row2_ncb0_active_free_b"); },
       0xEF6015,
       {},
       false,
       false},
      {"row 3",
       [] { return test::sweepCase("row3_both_active_free_a"); },
       0xEF6015,
       {},
       false,
       false},
      {"row 4",
       [] { return test::sweepCase("row4_ncb0_active_free_a"); },
       0xEF6015,
       {},
       false,
       false},
      {"row 5",
       [] { return test::sweepCase("row5_ncb1_active_free_a"); },
       0xEF6015,
       {},
       false,
       true},
      {"row 6",
       [] { return test::sweepCase("row6_ncb1_active_free_b"); },
       0xEF6015,
       {},
       false,
       false},
      {"row 4 with 512-byte pages", [] { return test::sweepCase("row4_ncb0_active_free_a"); },
       0x1F2700, pages512, false, false},
  };
  for (const LayoutCase& lc : cases) {
    const UpdateCase c = lc.make();
    test::UpdateBench bench(lc.jedecId);
    bench.load(c.flash);
    ASSERT_EQ(updateFirmware(bench.flash(), c.input()), kStatusSuccess) << lc.what;
    const std::vector<uint8_t> actual = bench.contents();
    std::vector<uint8_t> before = c.flash;
    before.resize(actual.size(), 0xFF);
    const auto [areaD, areaE] = expectedAreas(c, lc.flagD, lc.flagE);
    const std::vector<uint8_t> expected =
        test::referenceUpdate(before, c.image, areaD, areaE, lc.geometry);
    ASSERT_EQ(actual.size(), expected.size()) << lc.what;
    const auto [left, right] = std::mismatch(actual.begin(), actual.end(), expected.begin());
    EXPECT_TRUE(left == actual.end())
        << lc.what << ": first difference at 0x" << std::hex << (left - actual.begin()) << ": 0x"
        << int(*left) << " instead of 0x" << int(*right);
    EXPECT_EQ(bench.adapter().violations(), 0u) << lc.what;
  }
}

}  // namespace
}  // namespace hlv
