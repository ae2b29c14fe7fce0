// What an update carries: the board's configuration areas, the parsed update image and the
// checks of its components.
#include "engine/update_data.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "engine/legacy_flags.h"
#include "engine/ncb_layout.h"
#include "tests/engine/update_harness.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

std::vector<uint8_t> bytes(std::span<const uint8_t> span) {
  return {span.begin(), span.end()};
}

std::vector<uint8_t> concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<uint8_t> filler(std::size_t size) {
  return image::fillerBytes(static_cast<uint32_t>(size), 5);
}

TEST(BuildConfigAreas, AppendsTheRecordsInPlaceOfTheTerminatorsWhenTheAreasAreOwned) {
  struct Case {
    const char* what;
    std::vector<uint8_t> blobD;
    std::vector<uint8_t> blobE;
    bool flagD;
    bool flagE;
    std::vector<uint8_t> areaD;
    std::vector<uint8_t> areaE;
  };
  const std::vector<uint8_t> blob20 = filler(20);
  const std::vector<uint8_t> blob6 = filler(6);
  const Case cases[] = {
      {"empty blobs give the records alone",
       {},
       {},
       false,
       false,
       image::areaDRecord(false),
       image::areaERecord(false)},
      {"the flags select the record values",
       {},
       {},
       true,
       true,
       image::areaDRecord(true),
       image::areaERecord(true)},
      {"a 4-byte blob D is all terminator",
       filler(4),
       {},
       true,
       false,
       image::areaDRecord(true),
       image::areaERecord(false)},
      {"a 2-byte blob E is all terminator",
       {},
       filler(2),
       false,
       true,
       image::areaDRecord(false),
       image::areaERecord(true)},
      {"longer blobs keep all but their terminators", blob20, blob6, false, true,
       concat({blob20.begin(), blob20.end() - 4}, image::areaDRecord(false)),
       concat({blob6.begin(), blob6.end() - 2}, image::areaERecord(true))},
  };
  for (const Case& c : cases) {
    UpdateData data;
    data.areasOwned = true;
    data.areaDFlag = c.flagD;
    data.areaEFlag = c.flagE;
    ASSERT_TRUE(buildConfigAreas({c.blobD, c.blobE}, data)) << c.what;
    EXPECT_EQ(bytes(data.areaD()), c.areaD) << c.what;
    EXPECT_EQ(bytes(data.areaE()), c.areaE) << c.what;
    EXPECT_EQ(data.areaDLength, c.blobD.empty() ? 0x18 : c.blobD.size() + 0x14) << c.what;
    EXPECT_EQ(data.areaELength, c.blobE.empty() ? 12 : c.blobE.size() + 10) << c.what;
  }
}

TEST(BuildConfigAreas, TheAppendedRecordsAreFoundAgainByTheNextUpdate) {
  // A blob that is itself a stream: the record continues it as a new section.
  const std::vector<uint8_t> streamD = {0x02, 0x00, 0x00, 0x00, 0x8C, 0x00, 0x00, 0x00,
                                        0x05, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00,
                                        0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  const std::vector<uint8_t> streamE = {0x03, 0x00, 0x88, 0x00, 0x07, 0x00,
                                        0x0F, 0x00, 0x01, 0x00, 0x00, 0x00};
  for (const bool flag : {false, true}) {
    for (const auto& [d, e] :
         {std::pair<std::vector<uint8_t>, std::vector<uint8_t>>{{}, {}}, {streamD, streamE}}) {
      UpdateData data;
      data.areasOwned = true;
      data.areaDFlag = flag;
      data.areaEFlag = flag;
      ASSERT_TRUE(buildConfigAreas({d, e}, data));
      EXPECT_EQ(searchAreaDFlag(data.areaD()), flag) << "blob of " << d.size();
      EXPECT_EQ(searchAreaEFlag(data.areaE()), flag) << "blob of " << e.size();
    }
  }
}

TEST(BuildConfigAreas, UnownedAreasAreTheBlobsThemselves) {
  const std::vector<uint8_t> d = filler(3);
  const std::vector<uint8_t> e = filler(1);
  UpdateData data;
  ASSERT_TRUE(buildConfigAreas({d, e}, data)) << "short blobs are fine when nothing is appended";
  EXPECT_EQ(data.areaDData, d.data());
  EXPECT_EQ(data.areaDLength, 3);
  EXPECT_EQ(data.areaEData, e.data());
  EXPECT_EQ(data.areaELength, 1);
  EXPECT_EQ(data.areaDStorage.size(), 0u);
}

// A blob D of 1 to 3 bytes or a blob E of 1 byte has no terminator for the record to replace:
// the record would start before the area's storage. A blob of 64 KiB or more does not fit an
// area's 16-bit length and must not be cut short.
TEST(CheckConfigBlobs, RefusesBlobsThatCannotBecomeAreas) {
  struct Case {
    const char* what;
    std::size_t lengthD;
    std::size_t lengthE;
    bool owned;
    FlashUpdateStatus status;
  };
  const Case cases[] = {
      {"owned, blob D of 1 byte", 1, 0, true, kStatusNcbNotUsable},
      {"owned, blob D of 3 bytes", 3, 0, true, kStatusNcbNotUsable},
      {"owned, blob D of 4 bytes", 4, 0, true, kStatusSuccess},
      {"owned, blob E of 1 byte", 0, 1, true, kStatusNcbNotUsable},
      {"owned, blob E of 2 bytes", 0, 2, true, kStatusSuccess},
      {"owned, blob D whose area just fits", 0xFFEB, 0, true, kStatusSuccess},
      {"owned, blob D whose area passes 16 bits", 0xFFEC, 0, true, kStatusNcbBuildFailed},
      {"owned, blob E whose area passes 16 bits", 0, 0xFFF6, true, kStatusNcbBuildFailed},
      {"as given, blob D of 0xFFFF bytes", 0xFFFF, 0, false, kStatusSuccess},
      {"as given, blob D of 64 KiB", 0x10000, 0, false, kStatusNcbBuildFailed},
      {"as given, blob E of 64 KiB + 16", 0, 0x10010, false, kStatusNcbBuildFailed},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> d(c.lengthD, 0x11);
    const std::vector<uint8_t> e(c.lengthE, 0x22);
    EXPECT_EQ(checkConfigBlobs({d, e}, c.owned), c.status) << c.what;
    UpdateData data;
    data.areasOwned = c.owned;
    EXPECT_EQ(buildConfigAreas({d, e}, data), c.status == kStatusSuccess) << c.what;
    if (c.status != kStatusSuccess) {
      EXPECT_EQ(data.areaDLength, 0) << c.what;
      EXPECT_EQ(data.areaELength, 0) << c.what;
    }
  }
}

TEST(UpdateImage, TakesTheActiveBlockWhoseCrcHoldsAndFindsEachComponentInTheImage) {
  image::ImageSpec spec = test::smallUpdateImageSpec();
  // NCB0 of the image invalid, NCB1 the one to take.
  spec.ncbs[1] = spec.ncbs[0];
  spec.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad;
  spec.ncbs[1].imageTag = 0x2ABC;
  spec.ncbs[1].imageVersion = 0x0A0B0C;
  const std::vector<uint8_t> image = image::buildImage(spec);
  const ConstHalvernNcb ncb1(image.data() + kNcb1Address);

  const std::optional<UpdateImage> parsed = UpdateImage::parse(image);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->ncb().data(), ncb1.data());
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb1.component(component);
    const std::optional<std::span<const uint8_t>> bytes = parsed->component(component);
    ASSERT_TRUE(bytes) << ncbComponentName(component);
    EXPECT_EQ(bytes->data(), image.data() + region.offset) << ncbComponentName(component);
    EXPECT_EQ(bytes->size(), region.size) << ncbComponentName(component);
  }
  EXPECT_FALSE(parsed->componentOutside());

  UpdateData data;
  ASSERT_TRUE(parseUpdateData(*parsed, {}, data));
  ASSERT_TRUE(data.image);
  EXPECT_EQ(data.image->ncb().imageTag(), 0x2ABCu);
  EXPECT_EQ(data.image->ncb().imageVersion(), 0x0A0B0Cu);
}

TEST(UpdateImage, OnlyImagesWithTheLayoutAndAnActiveBlockParseAndOnlyWholeComponentsAreTaken) {
  struct Case {
    const char* what;
    std::function<void(image::ImageSpec&)> change;
    std::size_t size;
    bool parses;
    std::optional<NcbComponent> outside;
  };
  const auto none = [](image::ImageSpec&) {};
  const auto romAtTheEnd = [](image::ImageSpec& s) { s.ncbs[0].offsets[4] = 0x1FFF00; };
  const Case cases[] = {
      {"one byte short", none, kFlashLayoutSize - 1, false, std::nullopt},
      {"no active block", [](image::ImageSpec& s) { s.ncbs[0].state = NcbState::kDeactivated; },
       kFlashLayoutSize, false, std::nullopt},
      {"a component past the image's end", romAtTheEnd, kFlashLayoutSize, true, NcbComponent::kRom},
      // Image files may be longer than the layout: a component is looked for in all of the file.
      {"a component past the layout in a longer file", romAtTheEnd, kFlashLayoutSize + 0x10000,
       true, std::nullopt},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec = test::smallUpdateImageSpec();
    c.change(spec);
    std::vector<uint8_t> image = image::buildImage(spec);
    image.resize(c.size);
    const std::optional<UpdateImage> parsed = UpdateImage::parse(image);
    ASSERT_EQ(parsed.has_value(), c.parses) << c.what;
    if (!parsed) continue;
    EXPECT_EQ(parsed->componentOutside(), c.outside) << c.what;
    EXPECT_EQ(parsed->component(NcbComponent::kRom).has_value(), !c.outside) << c.what;
    UpdateData data;
    EXPECT_EQ(parseUpdateData(*parsed, {}, data), !c.outside) << c.what;
  }
}

TEST(CheckImageComponents, OnlyComponentsThatWillBeValidOnTheFlashPass) {
  struct Case {
    const char* what;
    std::function<void(image::NcbSpec&)> change;
    uint32_t pageSize;
    FlashUpdateStatus status;
  };
  const Case cases[] = {
      {"the small image", [](image::NcbSpec&) {}, 256, kStatusSuccess},
      {"a component starting in the blocks", [](image::NcbSpec& n) { n.offsets[4] = 0x7F00; }, 256,
       kStatusNcbInvalid},
      {"a component running past the layout", [](image::NcbSpec& n) { n.offsets[4] = 0x1FFF00; },
       256, kStatusNcbInvalid},
      {"an area past the block's end", [](image::NcbSpec& n) { n.areas[0].lengthField = 0x3900; },
       256, kStatusNcbInvalid},
      {"MAC part 2 not matching macCrc",
       [](image::NcbSpec& n) { n.macCrc.kind = image::CrcSpec::Kind::kBad; }, 256,
       kStatusComponentCrcMismatch},
      {"PHY not matching phyCrc",
       [](image::NcbSpec& n) { n.phyCrc.kind = image::CrcSpec::Kind::kBad; }, 256,
       kStatusComponentCrcMismatch},
      {"ROM not matching romCrc",
       [](image::NcbSpec& n) { n.romCrc.kind = image::CrcSpec::Kind::kBad; }, 256,
       kStatusComponentCrcMismatch},
      {"components filling a bank exactly",
       [](image::NcbSpec& n) {
         n.sizes = {0x20000, 0x80000, 0x20000, 0x1C000, 0x20000};
       },
       256, kStatusSuccess},
      {"components one page larger than a bank",
       [](image::NcbSpec& n) {
         n.sizes = {0x20000, 0x80000, 0x20000, 0x1C000, 0x20001};
       },
       256, kStatusFreeAreaTooSmall},
      {"components a bank holds only without page rounding",
       [](image::NcbSpec& n) {
         n.sizes = {0x20001, 0x80000, 0x20000, 0x1C000, 0x1FF00};
       },
       0x200, kStatusFreeAreaTooSmall},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec = test::smallUpdateImageSpec();
    c.change(spec.ncbs[0]);
    const std::vector<uint8_t> image = image::buildImage(spec);
    const std::optional<UpdateImage> parsed = UpdateImage::parse(image);
    ASSERT_TRUE(parsed) << c.what;
    EXPECT_EQ(checkImageComponents(*parsed, c.pageSize), c.status) << c.what;
  }
}

}  // namespace
}  // namespace hlv
