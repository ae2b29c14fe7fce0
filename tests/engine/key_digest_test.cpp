// The image's key digest and the check of it against the adapter's fuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "device/register_map.h"
#include "engine/firmware_key_check.h"
#include "engine/flash_layout.h"
#include "engine/image_key_digest.h"
#include "engine/ncb.h"
#include "platform/platform.h"
#include "sim/emulated_adapter.h"
#include "tests/engine/key_image.h"
#include "tests/support/adapter_rig.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::imageWithKey;
using test::kSampleKeyDigest;
using test::sampleKey;

TEST(GetImageKeyDigest, IsTheSha256OfTheKeyBlockWhenTheImageCarriesOne) {
  struct Case {
    const char* what;
    std::vector<uint8_t> image;
    bool found;
  };
  const std::vector<uint8_t> key = sampleKey();
  std::vector<uint8_t> lastByteOnly(kKeyBlockSize, 0);
  lastByteOnly.back() = 1;
  const Case cases[] = {
      {"a key block", imageWithKey(key), true},
      {"a key block whose last byte alone is set", imageWithKey(lastByteOnly), true},
      {"an all-zero key block", imageWithKey({}), false},
      {"an image one byte short",
       [&] {
         std::vector<uint8_t> image = imageWithKey(key);
         image.pop_back();
         return image;
       }(),
       false},
      {"no active block",
       imageWithKey(key, [](image::ImageSpec& s) { s.ncbs[0].state = NcbState::kDeactivated; }),
       false},
      {"MAC part 2 shorter than the key block's offset",
       imageWithKey(key, [](image::ImageSpec& s) { s.ncbs[0].sizes[1] = kKeyBlockOffset - 1; }),
       false},
      // MAC part 2 need only reach the key block; the block itself lies in the image.
      {"MAC part 2 ending where the key block starts",
       imageWithKey(key, [](image::ImageSpec& s) { s.ncbs[0].sizes[1] = kKeyBlockOffset; }), true},
      {"MAC part 2 passing the image's end",
       imageWithKey(key, [](image::ImageSpec& s) { s.ncbs[0].offsets[1] = 0x1F8000; }), false},
      {"a key block running past the image's end",
       imageWithKey(key,
                    [](image::ImageSpec& s) {
                      s.ncbs[0].offsets[1] = kFlashLayoutSize - kKeyBlockOffset - 0x100;
                      s.ncbs[0].sizes[1] = kKeyBlockOffset;
                    }),
       false},
  };
  for (const Case& c : cases) {
    KeyDigest digest{};
    digest.fill(0xEE);
    EXPECT_EQ(getImageKeyDigest(c.image, digest), c.found) << c.what;
    if (!c.found) {
      KeyDigest untouched{};
      untouched.fill(0xEE);
      EXPECT_EQ(digest, untouched) << c.what;
    }
  }
  KeyDigest digest{};
  ASSERT_TRUE(getImageKeyDigest(imageWithKey(key), digest));
  EXPECT_EQ(digest, kSampleKeyDigest);
}

// An emulated adapter with its fuses, on virtual time. Whatever a test checks, the check drove
// the ports without a single protocol break and left the fuse semaphore free.
struct FuseRig : test::AdapterRig {
  explicit FuseRig(const sim::FirmwareConfig& firmware)
      : AdapterRig(withFirmware(firmware), test::TrafficCheck::kExpectClean, "the key check") {}
  ~FuseRig() { EXPECT_FALSE(adapter.semaphores().heldByProgram(sim::SemaphoreId::kFuse)); }
  bool writes(uint32_t offset) const { return recorder.count(true, offset) != 0; }
};

sim::FirmwareConfig keyFused(const KeyDigest& digest) {
  sim::FirmwareConfig firmware;
  firmware.chipRevision = reg::kChipRevisionWithKeyFuses;
  firmware.fuseStatus = kFuseStatusKeyFused | 0x3;
  firmware.fuseDigest = digest;
  return firmware;
}

TEST(CheckFirmwareKey, AChipWithoutKeyFusesAcceptsAnyImageTouchingOnlyTheRevision) {
  FuseRig rig(sim::FirmwareConfig{});  // revision 0x109
  EXPECT_TRUE(checkFirmwareKey(rig.recorder, imageWithKey({})));
  ASSERT_EQ(rig.recorder.accesses.size(), 1u);
  EXPECT_FALSE(rig.recorder.accesses[0].write);
  EXPECT_EQ(rig.recorder.accesses[0].offset, reg::kChipRevision);
}

TEST(CheckFirmwareKey, ASemaphoreNeverGrantedRefusesAfterHalfASecondWithoutTouchingThePorts) {
  sim::FirmwareConfig firmware = keyFused(kSampleKeyDigest);
  firmware.fuseSemaphoreHeld = true;
  FuseRig rig(firmware);
  const uint64_t start = rig.clock.now();
  EXPECT_FALSE(checkFirmwareKey(rig.recorder, imageWithKey(sampleKey())));
  const uint64_t waited = rig.clock.now() - start;
  EXPECT_GE(waited, 500'000'000u);
  EXPECT_LT(waited, 501'000'000u);
  EXPECT_TRUE(rig.recorder.count(true, reg::kTestPortControl) == 0);
  EXPECT_TRUE(std::none_of(rig.recorder.accesses.begin(), rig.recorder.accesses.end(),
                           [](const test::RegisterAccess& a) { return a.write; }));
}

// What the fuses hold decides; the semaphore is released on every path, which closes the fuse
// read port again.
TEST(CheckFirmwareKey, FollowsTheFuses) {
  KeyDigest other = kSampleKeyDigest;
  other[31] ^= 0x01;
  struct Case {
    const char* what;
    sim::FirmwareConfig firmware;
    std::vector<uint8_t> image;
    bool accepted;
    bool digestRead;  // the eight digest words were read
  };
  sim::FirmwareConfig statusClear = keyFused(kSampleKeyDigest);
  statusClear.fuseStatus = 0xFFFFEFFF;
  const Case cases[] = {
      {"status word without the key bit", statusClear, imageWithKey({}), true, false},
      {"no digest fused", keyFused(KeyDigest{}), imageWithKey({}), true, true},
      {"the image's digest fused", keyFused(kSampleKeyDigest), imageWithKey(sampleKey()), true,
       true},
      {"another digest fused", keyFused(other), imageWithKey(sampleKey()), false, true},
      {"an image without a key block", keyFused(kSampleKeyDigest), imageWithKey({}), false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FuseRig rig(c.firmware);
    EXPECT_EQ(checkFirmwareKey(rig.recorder, c.image), c.accepted) << c.what;
    EXPECT_FALSE(rig.adapter.chipFuses().fusePortOpen()) << c.what;
    // One idle write at the port's opening, then five writes per fuse word.
    const std::size_t words = c.digestRead ? 9 : 1;
    EXPECT_EQ(rig.recorder.count(true, reg::kFuseCommand), 1 + 5 * words) << c.what;
    EXPECT_EQ(rig.recorder.count(false, reg::kFuseResult), words) << c.what;
  }
}

// The fuse read port closes with the semaphore's release: every check clocks the opening
// sequence again, and a digest that does not match is refused the second time too.
TEST(CheckFirmwareKey, EveryCheckOpensTheFusePortAnew) {
  KeyDigest other = kSampleKeyDigest;
  other[0] ^= 0x80;
  FuseRig rig(keyFused(other));
  for (int check = 0; check < 3; ++check) {
    EXPECT_FALSE(checkFirmwareKey(rig.recorder, imageWithKey(sampleKey()))) << check;
    EXPECT_FALSE(rig.adapter.chipFuses().fusePortOpen()) << check;
  }
  EXPECT_EQ(rig.recorder.count(false, reg::kFuseResult), 3u * 9);
}

}  // namespace
}  // namespace hlv
