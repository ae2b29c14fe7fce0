// Hex digits to bytes.
#include "shared/hex_bytes.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>
#include <vector>

namespace hlv {
namespace {

TEST(HexBytes, TwoDigitsMakeOneByteAndAnythingElseIsRefused) {
  struct Case {
    const char* what;
    std::string_view text;
    std::optional<std::vector<uint8_t>> bytes;
  };
  const Case cases[] = {
      {"nothing is no bytes", "", std::vector<uint8_t>{}},
      {"high digit first, either case", "00fFa5", std::vector<uint8_t>{0x00, 0xFF, 0xA5}},
      {"every digit value", "0123456789abcdefABCDEF",
       std::vector<uint8_t>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD, 0xEF}},
      {"an odd number of digits", "abc", std::nullopt},
      {"a letter past f", "0g", std::nullopt},
      {"a blank between bytes", "00 ff", std::nullopt},
      {"a 0x prefix", "0x12", std::nullopt},
      {"a sign", "+1", std::nullopt},
      {"a character next to the digits in the code table", "/:@G`g", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(parseHexBytes(c.text), c.bytes) << c.what;
}

}  // namespace
}  // namespace hlv
