// The JSON reader the output tests rely on: it must refuse what is not JSON, or those tests
// would prove nothing.
#include "tests/support/json_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace hlv::test {
namespace {

TEST(JsonReader, AcceptsJsonAndRefusesEverythingElse) {
  struct Case {
    const char* what;
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"object of every type",
       R"( {"a": [1, -0.5e+3, true, false, null], "b": {"c": "x\"\\\/\b\f\n\r\t\u00e9\ud83d\ude00"}} )",
       true},
      {"raw UTF-8", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\"", true},
      {"empty containers", "[{}, []]", true},
      {"trailing comma in an array", "[1, 2,]", false},
      {"trailing comma in an object", R"({"a": 1,})", false},
      {"duplicate key", R"({"a": 1, "a": 2})", false},
      {"single quotes", "['a']", false},
      {"raw control character", "\"a\x01\"", false},
      {"raw line feed", "\"a\nb\"", false},
      {"malformed UTF-8", "\"\xFF\"", false},
      {"overlong UTF-8", "\"\xC0\x80\"", false},
      {"encoded surrogate", "\"\xED\xA0\x80\"", false},
      {"UTF-8 cut short", "\"\xE2\x82\"", false},
      {"lone high surrogate escape", R"("\ud800")", false},
      {"lone low surrogate escape", R"("\udc00")", false},
      {"unknown escape", R"("\x41")", false},
      {"leading zero", "01", false},
      {"bare dot", "1.", false},
      {"hexadecimal number", "0x10", false},
      {"two values", "1 2", false},
      {"nothing", "", false},
      {"unterminated string", "\"abc", false},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(parseJson(c.text, error).has_value(), c.valid) << c.what << ": " << error;
  }
}

TEST(JsonReader, GivesMembersItemsAndExactNumbers) {
  std::string error;
  const auto json =
      parseJson(R"({"n": 18446744073709551615, "i": -9223372036854775808, "s": "\u00e9", )"
                R"("l": [true, null]})",
                error);
  ASSERT_TRUE(json) << error;
  EXPECT_EQ((*json)["n"].asUint64(), 18446744073709551615u);
  EXPECT_EQ((*json)["i"].asInt64(), INT64_MIN);
  EXPECT_EQ((*json)["s"].text(), "\xC3\xA9");
  EXPECT_TRUE((*json)["l"][0].boolean());
  EXPECT_TRUE((*json)["l"][1].isNull());
  EXPECT_FALSE(json->has("missing"));
  EXPECT_TRUE((*json)["missing"].isNull());
}

}  // namespace
}  // namespace hlv::test
