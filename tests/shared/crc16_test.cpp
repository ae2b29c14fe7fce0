// The CRC-16 of every control block and component checksum.
#include "shared/crc16.h"

#include <gtest/gtest.h>

#include <string_view>

namespace hlv {
namespace {

std::span<const uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(Crc16, MatchesTheXmodemCheckValues) {
  struct Case {
    const char* what;
    std::string_view text;
    uint16_t crc;
  };
  const Case cases[] = {
      {"check value", "123456789", 0x31C3},
      {"empty buffer", "", 0x0000},
      {"one byte", "A", 0x58E5},
      {"zero byte keeps zero", std::string_view("\0", 1), 0x0000},
  };
  for (const Case& c : cases)
    EXPECT_EQ(crc16(bytesOf(c.text)), c.crc) << c.what;
}

TEST(Crc16, ContinuesOverSeparatePieces) {
  // MAC part 1 and part 2 are checked as one stream without being copied together.
  const auto whole = bytesOf("123456789");
  for (std::size_t split = 0; split <= whole.size(); ++split) {
    const uint16_t first = crc16(whole.first(split));
    EXPECT_EQ(crc16(whole.subspan(split), first), 0x31C3) << "split at " << split;
  }
  EXPECT_EQ(crc16(nullptr, 0, 0x1234), 0x1234);
}

}  // namespace
}  // namespace hlv
