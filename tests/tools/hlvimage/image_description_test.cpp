// hlvimage's image builder and its description language.
#include "tools/hlvimage/image_description.h"

#include <gtest/gtest.h>

#include "engine/firmware_version.h"
#include "engine/ncb.h"
#include "engine/ncb_layout.h"
#include "shared/crc16.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::image {
namespace {

ImageSpec parse(const std::string& text) {
  ImageSpec spec;
  const Result<> parsed = parseImageDescription(text, spec);
  EXPECT_TRUE(parsed) << parsed.error() << "\n" << text;
  return spec;
}

// The builder's default image is what the engine takes as a good type-2 update image.
TEST(ImageBuilder, TheDefaultImageIsAValidUpdateImage) {
  const std::vector<uint8_t> image = buildImage(ImageSpec());
  ASSERT_EQ(image.size(), kFlashLayoutSize);
  const auto active = findActiveImageNcb(image);
  ASSERT_TRUE(active);
  EXPECT_EQ(active->data(), image.data());
  EXPECT_EQ(validateNcb(*active, false), kStatusSuccess);
  EXPECT_TRUE(isType2Layout(*active, false));
  EXPECT_TRUE(imagesDisjoint(*active, false));
  EXPECT_TRUE(imagesInOneBank(*active));
  auto bytes = [&](NcbComponent c) {
    const NcbRegion r = active->component(c);
    return std::span<const uint8_t>(image.data() + r.offset, r.size);
  };
  EXPECT_EQ(crc16(bytes(NcbComponent::kMacPart2), crc16(bytes(NcbComponent::kMacPart1))),
            active->macCrc());
  EXPECT_EQ(crc16(bytes(NcbComponent::kRom)), active->romCrc());
  FirmwareVersion version;
  EXPECT_EQ(getImageVersion(image, version), kStatusSuccess);
  EXPECT_EQ(version, (FirmwareVersion{1, 0, 0}));
  EXPECT_EQ(ConstHalvernNcb(image.data() + kNcb1Address).state(), NcbState::kNotActive);
}

TEST(ImageBuilder, PresetsHaveTheLayoutTheirNamesPromise) {
  struct Case {
    const char* what;
    ImageSpec spec;
    bool ncb0Active;
    bool ncb1Active;
    bool type2;  // of the block a reader takes
  };
  const Case cases[] = {
      {"after an update", updatedFlashSpec({1, 0, 0}, {2, 0, 0}), false, true, true},
      {"type 1", typeOneFlashSpec(), true, false, false},
      {"both active", bothActiveFlashSpec({1, 0, 0}, {2, 0, 0}), true, true, true},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> image = buildImage(c.spec);
    const ConstHalvernNcb ncb0(image.data());
    const ConstHalvernNcb ncb1(image.data() + kNcb1Address);
    EXPECT_EQ(ncb0.active(), c.ncb0Active) << c.what;
    EXPECT_EQ(ncb1.active(), c.ncb1Active) << c.what;
    EXPECT_EQ(validateNcb(ncb0, true), kStatusSuccess) << c.what;
    EXPECT_EQ(validateNcb(ncb1, true), c.ncb1Active ? kStatusSuccess : kStatusNcbNotUsable)
        << c.what;
    const ConstHalvernNcb taken = c.ncb0Active ? ncb0 : ncb1;
    EXPECT_EQ(isType2Layout(taken, !c.ncb0Active), c.type2) << c.what;
    EXPECT_TRUE(imagesDisjoint(taken, true)) << c.what;
  }
}

TEST(ImageDescription, KeysApplyToBothBlocksOrToTheNamedOne) {
  const ImageSpec spec = parse(
      "# a flash after an update\n"
      "ncb0 = deactivated\n"
      "ncb1 = active\n"
      "version = 1.5.86\n"
      "ncb1.version = 2.0.1   # the running firmware\n"
      "mac1_size = 0x1000\n"
      "ncb1.rom_size = 0\n"
      "device_id = 0x21C3\n"
      "\n"
      "ncb0.free = 0x104000 0xFC000\n"
      "ncb1.patch = 13 0xFFFFFFFF 0x00020001\n"
      "ncb1.crc = bad\n"
      "poke = 0x1FFFF0 01 02 0a\n");
  EXPECT_EQ(spec.ncbs[0].state, NcbState::kDeactivated);
  EXPECT_FALSE(spec.ncbs[1].erased);
  EXPECT_EQ(spec.ncbs[0].firmware.version, (FirmwareVersion{1, 5, 86}));
  EXPECT_EQ(spec.ncbs[1].firmware.version, (FirmwareVersion{2, 0, 1}));
  EXPECT_EQ(spec.ncbs[0].sizes[0], 0x1000u);
  EXPECT_EQ(spec.ncbs[1].sizes[0], 0x1000u);
  EXPECT_EQ(spec.ncbs[0].sizes[4], 0x4000u);
  EXPECT_EQ(spec.ncbs[1].sizes[4], 0u);
  EXPECT_EQ(spec.ncbs[1].deviceId, 0x21C3);
  EXPECT_EQ(spec.ncbs[0].freeArea, (NcbRegion{0x104000, 0xFC000}));
  EXPECT_FALSE(spec.ncbs[1].freeArea);
  ASSERT_EQ(spec.ncbs[1].firmware.patches.size(), 1u);
  EXPECT_EQ(spec.ncbs[1].firmware.patches[0].value, 0x00020001u);
  EXPECT_EQ(spec.ncbs[1].ncbCrc.kind, CrcSpec::Kind::kBad);
  ASSERT_EQ(spec.pokes.size(), 1u);
  EXPECT_EQ(spec.pokes[0].offset, 0x1FFFF0u);
  EXPECT_EQ(spec.pokes[0].bytes, (std::vector<uint8_t>{1, 2, 0x0A}));
}

TEST(ImageDescription, BadLinesAreRefusedWithTheirLineNumber) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"version = 1.2.3\ncolour = blue\n", "line 2: unknown key 'colour'"},
      {"version 1.2.3\n", "line 1: expected 'key = value'"},
      {"version = \n", "line 1: expected 'key = value'"},
      {"version = 1.2\n", "line 1: bad value '1.2' for version"},
      {"\n\nmac1_size = 0x1000000\n", "line 3: bad value '0x1000000' for mac1_size"},
      {"ncb2.version = 1.0.0\n", "line 1: unknown key 'ncb2.version'"},
      {"ncb0 = sideways\n", "line 1: bad value 'sideways' for state"},
      {"poke = 12\n", "line 1: bad value '12' for poke (OFFSET HEXBYTES)"},
      {"area_b = bytes 0g\n", "line 1: bad value 'bytes 0g' for area_b"},
      {"image_size = 0x4000001\n", "line 1: bad value '0x4000001' for image_size"},
      // A poke past the end would write nothing; whether it does is known once image_size is.
      {"poke = 0x1FFFFF 01 02\n",
       "line 1: poke at 0x1FFFFF of 2 bytes passes the image's end (0x200000 bytes)"},
      {"poke = 0x100000 01\nimage_size = 0x100000\n",
       "line 1: poke at 0x100000 of 1 byte passes the image's end (0x100000 bytes)"},
      {"ncb1.set = 0x3FFF 01 02\n",
       "line 1: set at 0x3FFF of 2 bytes passes the block's end (0x4000 bytes)"},
  };
  for (const Case& c : cases) {
    ImageSpec spec;
    const Result<> parsed = parseImageDescription(c.text, spec);
    EXPECT_FALSE(parsed) << c.text;
    EXPECT_EQ(parsed.error().rfind(c.message, 0), 0u) << c.text << " gave: " << parsed.error();
  }
  // The last byte of the image and of the block may be written.
  ImageSpec spec;
  EXPECT_TRUE(parseImageDescription("poke = 0x1FFFFE 01 02\nncb0.set = 0x3FFF 01\n", spec));
  EXPECT_TRUE(parseImageDescription("image_size = 0x300000\npoke = 0x2FFFFF 01\n", spec));
}

TEST(ImageBuilder, DescriptionsControlWhatTheEngineReads) {
  struct Case {
    const char* what;
    const char* description;
    FlashUpdateStatus status;
    FirmwareVersion version;
    uint32_t type;
  };
  const Case cases[] = {
      {"header at 8", "version = 2.1.7\nheader_offset = 8\n", kStatusSuccess, {2, 1, 7}, 1},
      {"header at 0x10000",
       "version = 1.1.1\nheader_offset = 0x10000\nmac2_size = 0x10200\n",
       kStatusSuccess,
       {1, 1, 1},
       1},
      {"settings version",
       "version = 3.0.0\nsettings_version = 3.10.5\n",
       kStatusSuccess,
       {3, 10, 5},
       1},
      {"patched settings", "patch = 13 0x00FFFFFF 0x00010203\n", kStatusSuccess, {1, 2, 3}, 1},
      {"type-2 device", "device_id = 0xA2C3\n", kStatusSuccess, {1, 0, 0}, 2},
      {"NCB1 active",
       "ncb0 = deactivated\nncb1 = active\nncb1.version = 4.0.0\n"
       "ncb1.device_id = 0x22C3\n",
       kStatusSuccess,
       {4, 0, 0},
       2},
  };
  for (const Case& c : cases) {
    const std::vector<uint8_t> image = buildImage(parse(c.description));
    FirmwareVersion version;
    EXPECT_EQ(getImageVersion(image, version), c.status) << c.what;
    EXPECT_EQ(version, c.version) << c.what;
    uint32_t type = 0;
    EXPECT_TRUE(getImageType(image, type)) << c.what;
    EXPECT_EQ(type, c.type) << c.what;
  }
}

}  // namespace
}  // namespace hlv::image
