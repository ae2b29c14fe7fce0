// Reading the whole flash for a backup.
#include "engine/flash_backup.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/engine/flash_doubles.h"

namespace hlv {
namespace {

TEST(ReadFlashImage, ReadsFromTheStartOfTheFlashOrSaysWhy) {
  struct Case {
    const char* what;
    bool ready;
    uint32_t length;
    FlashUpdateStatus status;
  };
  const Case cases[] = {
      {"the whole flash", true, 0x200000, kStatusSuccess},
      {"its first bytes", true, 0x1000, kStatusSuccess},
      {"more than the part holds", true, 0x200001, kStatusFlashReadFailed},
      {"an interface that is not ready", false, 0x200000, kStatusFlashInitFailed},
  };
  class Part : public test::NorMemoryFlash {
   public:
    bool init() override { return ready; }
    bool ready = true;
  };
  for (const Case& c : cases) {
    Part part;
    part.ready = c.ready;
    for (std::size_t i = 0; i < part.contents.size(); ++i)
      part.contents[i] = static_cast<uint8_t>(i * 13 + (i >> 12));
    std::vector<uint8_t> buffer(c.length + 1, 0x5A);
    EXPECT_EQ(readFlashImage(part, buffer.data(), c.length), c.status) << c.what;
    if (c.status == kStatusSuccess) {
      EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + c.length, part.contents.begin()))
          << c.what;
      EXPECT_EQ(buffer[c.length], 0x5A) << c.what << ": nothing past the length";
    }
  }
}

}  // namespace
}  // namespace hlv
