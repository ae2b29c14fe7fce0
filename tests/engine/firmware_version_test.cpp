// Firmware versions and image types: read from an image, from the active and the previous block
// on the flash, and compared.
#include "engine/firmware_version.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "tests/engine/flash_doubles.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using image::FirmwareSpec;

std::vector<uint8_t> u32s(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> bytes;
  for (uint32_t v : values) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return bytes;
}

// A patch stream setting settings word 13 to `value`.
std::vector<image::PatchEntrySpec> patchWord13(uint32_t value) {
  return {{13, 0xFFFFFFFF, value}};
}

TEST(ParseFirmwareVersion, FindsTheHeaderAndPrefersTheSettingsBlock) {
  struct Case {
    const char* what;
    std::function<void(FirmwareSpec&)> firmware;
    uint32_t partSize;
    std::function<void(std::vector<uint8_t>&)> alter;
    std::optional<FirmwareVersion> version;  // none: status 14
  };
  const auto none = [](std::vector<uint8_t>&) {};
  const Case cases[] = {
      {"header at 0",
       [](FirmwareSpec& f) {
         f.version = {3, 4, 5};
       },
       0x10000, none, FirmwareVersion{3, 4, 5}},
      {"header at 8",
       [](FirmwareSpec& f) {
         f.version = {2, 1, 0};
         f.headerOffset = 8;
       },
       0x10000, none, FirmwareVersion{2, 1, 0}},
      {"header at 0x10000 behind zeros",
       [](FirmwareSpec& f) {
         f.version = {1, 7, 9};
         f.headerOffset = 0x10000;
       },
       0x10120, none, FirmwareVersion{1, 7, 9}},
      {"header at 0x10000 with a non-zero byte at 0x100",
       [](FirmwareSpec& f) {
         f.version = {1, 7, 9};
         f.headerOffset = 0x10000;
       },
       0x10120, [](std::vector<uint8_t>& b) { b[0x100] = 1; }, std::nullopt},
      {"header at 0x10000 in a buffer of 0x1011F bytes",
       [](FirmwareSpec& f) {
         f.version = {1, 7, 9};
         f.headerOffset = 0x10000;
       },
       0x1011F, none, std::nullopt},
      {"settings word 13 gives the version",
       [](FirmwareSpec& f) {
         f.version = {3, 0, 0};
         f.settingsWords = {{13, 0x00030A05}};
       },
       0x10000, none, FirmwareVersion{3, 10, 5}},
      {"settings word 13 with major 5 is ignored",
       [](FirmwareSpec& f) {
         f.version = {2, 2, 2};
         f.settingsWords = {{13, 0x00050102}};
       },
       0x10000, none, FirmwareVersion{2, 2, 2}},
      {"settings word 13 with major 0 counts",
       [](FirmwareSpec& f) {
         f.version = {2, 2, 2};
         f.settingsWords = {{13, 0x00000102}};
       },
       0x10000, none, FirmwareVersion{0, 1, 2}},
      {"a patch record writes word 13",
       [](FirmwareSpec& f) {
         f.version = {1, 0, 0};
         f.patches = patchWord13(0x00040506);
       },
       0x10000, none, FirmwareVersion{4, 5, 6}},
      {"masked patch record over word 13",
       [](FirmwareSpec& f) {
         f.version = {1, 0, 0};
         f.settingsWords = {{13, 0x00010203}};
         f.patches = {{13, 0x0000FF00, 0x00004400}};
       },
       0x10000, none, FirmwareVersion{1, 0x44, 3}},
      {"patch length 0 still reads word 13",
       [](FirmwareSpec& f) {
         f.settingsWords = {{13, 0x00020000}};
         f.patches = patchWord13(0x00040000);
         f.patchLength = 0;
       },
       0x10000, none, FirmwareVersion{2, 0, 0}},
      {"patch records beyond the settings block are skipped",
       [](FirmwareSpec& f) {
         f.version = {1, 2, 3};
         f.patches = {{128, 0xFFFFFFFF, 0x00030000}, {0x40000000, 0xFFFFFFFF, 1}};
       },
       0x10000, none, FirmwareVersion{1, 2, 3}},
      {"a format error keeps the entries before it",
       [](FirmwareSpec& f) {
         f.version = {1, 0, 0};
         f.patchBytes = u32s({0x0002, 0x0084, 13, 0xFFFFFFFF, 0x00030201, 0x0001});
       },
       0x10000, none, FirmwareVersion{3, 2, 1}},
      {"patch stream passing the buffer",
       [](FirmwareSpec& f) {
         f.patches = patchWord13(0x00040000);
         f.patchOffset = 0xFFF0;
       },
       0x10000, none, std::nullopt},
      {"patch stream offset that wraps 32 bits",
       [](FirmwareSpec& f) {
         f.patches = patchWord13(0x00040000);
         f.patchOffset = 0xFFFFFFF0;
       },
       0x10000, none, std::nullopt},
      {"settings block passing the buffer falls back to the header",
       [](FirmwareSpec& f) {
         f.version = {2, 3, 4};
         f.settingsOffset = 0xFF00;
       },
       0x10000, none, FirmwareVersion{2, 3, 4}},
      {"settings offset that wraps 32 bits falls back to the header",
       [](FirmwareSpec& f) {
         f.version = {2, 3, 4};
         f.settingsOffset = 0xFFFFFFF0;
       },
       0x10000, none, FirmwareVersion{2, 3, 4}},
      {"without a settings block the patch stream is not looked at",
       [](FirmwareSpec& f) {
         f.version = {2, 3, 4};
         f.settingsOffset = 0xFF00;
         f.patches = patchWord13(0x00040000);
         f.patchOffset = 0xFFFFFF00;
       },
       0x10000, none, FirmwareVersion{2, 3, 4}},
      {"header at 0x10000 with major 0",
       [](FirmwareSpec& f) {
         f.version = {0, 1, 1};
         f.headerOffset = 0x10000;
       },
       0x10120, none, std::nullopt},
      {"no header anywhere",
       [](FirmwareSpec& f) {
         f.version = {9, 0, 0};
       },
       0x10000, none, std::nullopt},
      {"buffer shorter than the header words",
       [](FirmwareSpec& f) {
         f.version = {1, 0, 0};
       },
       0x20, none, std::nullopt},
      {"buffer holding just the header words",
       [](FirmwareSpec& f) {
         f.version = {1, 0, 0};
       },
       0x30, none, FirmwareVersion{1, 0, 0}},
  };
  for (const Case& c : cases) {
    FirmwareSpec firmware;
    c.firmware(firmware);
    std::vector<uint8_t> part = image::buildMacPart2(firmware, c.partSize, 7);
    c.alter(part);
    FirmwareVersion version{99, 99, 99};
    const FlashUpdateStatus status = parseFirmwareVersion(part, version);
    if (c.version) {
      EXPECT_EQ(status, kStatusSuccess) << c.what;
      EXPECT_EQ(version, *c.version) << c.what << ": " << version.toString();
    } else {
      EXPECT_EQ(status, kStatusVersionUnreadable) << c.what;
    }
  }
}

TEST(FirmwareVersion, ComparesMajorFirstAndPrintsDotted) {
  EXPECT_LT((FirmwareVersion{1, 9, 9}), (FirmwareVersion{2, 0, 0}));
  EXPECT_LT((FirmwareVersion{1, 5, 86}), (FirmwareVersion{1, 5, 87}));
  EXPECT_EQ((FirmwareVersion{4294967295u, 0, 12}).toString(), "4294967295.0.12");
}

TEST(GetImageVersion, ReadsMacPart2OfTheImagesActiveBlock) {
  struct Case {
    const char* what;
    std::function<void(image::ImageSpec&)> change;
    FlashUpdateStatus status;
    FirmwareVersion version;
  };
  const Case cases[] = {
      {"update image",
       [](image::ImageSpec& s) {
         s.ncbs[0].firmware.version = {1, 5, 87};
       },
       kStatusSuccess,
       {1, 5, 87}},
      {"NCB1 active",
       [](image::ImageSpec& s) {
         s.ncbs[0].state = NcbState::kDeactivated;
         s.ncbs[1].erased = false;
         s.ncbs[1].firmware.version = {3, 1, 4};
       },
       kStatusSuccess,
       {3, 1, 4}},
      {"one byte short of the flash size",
       [](image::ImageSpec& s) { s.imageSize = kFlashLayoutSize - 1; },
       kStatusImageInvalid,
       {}},
      {"no active block",
       [](image::ImageSpec& s) { s.ncbs[0].state = NcbState::kNotActive; },
       kStatusImageInvalid,
       {}},
      {"active block with a bad CRC",
       [](image::ImageSpec& s) { s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad; },
       kStatusImageInvalid,
       {}},
      {"MAC part 2 passing the image",
       [](image::ImageSpec& s) {
         s.ncbs[0].offsets[1] = 0x1F8000;
         s.ncbs[0].sizes[1] = 0x8001;
       },
       kStatusVersionUnreadable,
       {}},
      {"MAC part 2 at the largest offset and size",
       [](image::ImageSpec& s) {
         s.ncbs[0].offsets[1] = 0xFFFFFF;
         s.ncbs[0].sizes[1] = 0xFFFFFF;
       },
       kStatusVersionUnreadable,
       {}},
      {"MAC part 2 of 0x127 bytes",
       [](image::ImageSpec& s) { s.ncbs[0].sizes[1] = 0x127; },
       kStatusVersionUnreadable,
       {}},
      {"MAC part 2 of 0x128 bytes",
       [](image::ImageSpec& s) {
         s.ncbs[0].sizes[1] = 0x128;
         s.ncbs[0].firmware.version = {2, 0, 1};
       },
       kStatusSuccess,
       {2, 0, 1}},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec;
    c.change(spec);
    const std::vector<uint8_t> image = image::buildImage(spec);
    FirmwareVersion version;
    EXPECT_EQ(getImageVersion(image, version), c.status) << c.what;
    if (c.status == kStatusSuccess) {
      EXPECT_EQ(version, c.version) << c.what;
    }
  }
}

TEST(GetImageType, TellsTheFamilyFromTheDeviceIdInAreaB) {
  struct Case {
    uint16_t deviceId;
    uint32_t type;
  };
  const Case cases[] = {{0x21C3, 2}, {0x22C3, 2}, {0xA1C3, 2}, {0xA2C3, 2},
                        {0x20C3, 1}, {0x21C2, 1}, {0x0000, 1}, {0xFFFF, 1}};
  for (const Case& c : cases) {
    for (unsigned slot : {0u, 1u}) {
      image::ImageSpec spec;
      spec.ncbs[slot].erased = false;
      spec.ncbs[slot].deviceId = c.deviceId;
      if (slot == 1) spec.ncbs[0].state = NcbState::kDeactivated;
      // The other block names another family, so reading the wrong area shows.
      spec.ncbs[1 - slot].deviceId = c.type == 2 ? 0x20C3 : 0x21C3;
      const std::vector<uint8_t> image = image::buildImage(spec);
      uint32_t type = 0;
      ASSERT_TRUE(getImageType(image, type)) << std::hex << c.deviceId;
      EXPECT_EQ(type, c.type) << std::hex << c.deviceId << " in NCB" << slot;
    }
    EXPECT_EQ(isType2DeviceId(c.deviceId), c.type == 2) << std::hex << c.deviceId;
  }
}

TEST(GetImageType, NeedsAFullImageWithAnActiveBlock) {
  image::ImageSpec small;
  small.imageSize = 0x100000;
  uint32_t type = 0;
  EXPECT_FALSE(getImageType(image::buildImage(small), type));
  image::ImageSpec inactive;
  inactive.ncbs[0].state = NcbState::kDeactivated;
  EXPECT_FALSE(getImageType(image::buildImage(inactive), type));
  EXPECT_FALSE(getImageType({}, type));
}

// Flash readouts through the real flash layer on an emulated adapter.
class FlashVersionTest : public ::testing::Test {
 protected:
  void load(const image::ImageSpec& spec) { emulated.load(image::buildImage(spec)); }
  void TearDown() override { EXPECT_EQ(emulated.violations(), 0u); }
  test::EmulatedFlash emulated;
};

TEST_F(FlashVersionTest, CurrentAndPreviousVersionsComeFromTheActiveAndTheOtherBlock) {
  struct Case {
    const char* what;
    std::function<void(image::ImageSpec&)> change;
    FlashUpdateStatus currentStatus;
    FirmwareVersion current;
    FlashUpdateStatus previousStatus;
    FirmwareVersion previous;
  };
  const Case cases[] = {
      {"after an update",
       [](image::ImageSpec&) {},
       kStatusSuccess,
       {2, 0, 0},
       kStatusSuccess,
       {1, 2, 3}},
      {"both active",
       [](image::ImageSpec& s) { s.ncbs[0].state = NcbState::kActive; },
       kStatusSuccess,
       {1, 2, 3},
       kStatusSuccess,
       {2, 0, 0}},
      {"none active",
       [](image::ImageSpec& s) { s.ncbs[1].state = NcbState::kDeactivated; },
       kStatusNoValidActiveNcb,
       {},
       kStatusImageInvalid,
       {}},
      {"previous block damaged",
       [](image::ImageSpec& s) { s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad; },
       kStatusSuccess,
       {2, 0, 0},
       kStatusNcbInvalid,
       {}},
      {"previous block erased",
       [](image::ImageSpec& s) { s.ncbs[0].erased = true; },
       kStatusSuccess,
       {2, 0, 0},
       kStatusNcbNotUsable,
       {}},
      {"active NCB0 invalid: no current version, NCB1 is the previous",
       [](image::ImageSpec& s) {
         s.ncbs[0].state = NcbState::kActive;
         s.ncbs[0].ncbCrc.kind = image::CrcSpec::Kind::kBad;
       },
       kStatusNoValidActiveNcb,
       {},
       kStatusSuccess,
       {2, 0, 0}},
      {"current MAC part 2 too short",
       [](image::ImageSpec& s) { s.ncbs[1].sizes[1] = 0x127; },
       kStatusVersionUnreadable,
       {},
       kStatusSuccess,
       {1, 2, 3}},
      {"current MAC part 2 passing the flash layout",
       [](image::ImageSpec& s) {
         s.ncbs[1].offsets[1] = 0x1FF000;
         s.ncbs[1].sizes[1] = 0x2000;
       },
       kStatusNoValidActiveNcb,
       {},
       kStatusSuccess,
       {1, 2, 3}},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec = image::updatedFlashSpec({1, 2, 3}, {2, 0, 0});
    c.change(spec);
    load(spec);
    FirmwareVersion current;
    FirmwareVersion previous;
    EXPECT_EQ(readCurrentVersion(*emulated.flash, current), c.currentStatus) << c.what;
    if (c.currentStatus == kStatusSuccess) {
      EXPECT_EQ(current, c.current) << c.what;
    }
    EXPECT_EQ(readPreviousVersion(*emulated.flash, previous), c.previousStatus) << c.what;
    if (c.previousStatus == kStatusSuccess) {
      EXPECT_EQ(previous, c.previous) << c.what;
    }
  }
}

TEST_F(FlashVersionTest, MacPart2PassingThePartIsNotRead) {
  // A block that is not validated first (as a version readout of any block may be).
  image::ImageSpec spec;
  spec.ncbs[0].offsets[1] = 0x1FF000;
  spec.ncbs[0].sizes[1] = 0x2000;
  const std::vector<uint8_t> image = image::buildImage(spec);
  emulated.load(image);
  test::FlashDecorator recorder(*emulated.flash);
  FirmwareVersion version;
  EXPECT_EQ(readFirmwareVersion(recorder, ConstHalvernNcb(image.data()), version),
            kStatusFlashReadFailed);
  EXPECT_TRUE(recorder.calls.empty()) << "nothing may be read past the end of the part";
}

TEST_F(FlashVersionTest, AFlashInterfaceThatCannotBeClaimedIsReported) {
  load(image::updatedFlashSpec({1, 2, 3}, {2, 0, 0}));
  VoApiFlashControl second(&emulated.adapter);  // the first one owns the interface
  FirmwareVersion version;
  EXPECT_EQ(readCurrentVersion(second, version), kStatusFlashInitFailed);
  EXPECT_EQ(readPreviousVersion(second, version), kStatusFlashReadFailed);
}

TEST_F(FlashVersionTest, AFailedReadIsTriedOnceMore) {
  load(image::updatedFlashSpec({1, 2, 3}, {2, 0, 0}));
  test::FlashDecorator flaky(*emulated.flash);
  FirmwareVersion version;
  flaky.failCalls(test::FlashCall::Kind::kRead, 1);
  EXPECT_EQ(readCurrentVersion(flaky, version), kStatusSuccess);
  EXPECT_EQ(version, (FirmwareVersion{2, 0, 0}));
  flaky.failCalls(test::FlashCall::Kind::kRead, 3, 2);  // both tries of the MAC part 2 read
  EXPECT_EQ(readCurrentVersion(flaky, version), kStatusFlashReadFailed);
}

}  // namespace
}  // namespace hlv
