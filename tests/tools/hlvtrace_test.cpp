#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>

#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tools/hlvtrace/trace_catalog.h"
#include "tools/hlvtrace/trace_decoder.h"

namespace hlv::trace {
namespace {

std::size_t countPlaceholders(const std::string& message) {
  std::size_t count = 0;
  for (std::size_t i = 0; i + 1 < message.size(); ++i) {
    if (message.compare(i, 2, "{}") == 0 || message.compare(i, 3, "{x}") == 0) ++count;
  }
  return count;
}

TEST(TraceCatalog, EveryPointIsDeclaredOnceAndItsMessageNamesEveryArgument) {
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> seen;
  for (const TableInfo* table : traceCatalog()) {
    for (const PointInfo& point : table->points) {
      EXPECT_TRUE(seen.emplace(table->component, table->file, point.point).second)
          << table->name << "." << point.name << " reuses " << table->component << ":"
          << table->file << ":" << point.point;
      EXPECT_EQ(countPlaceholders(point.message), point.argCount)
          << table->name << "." << point.name << ": " << point.message;
    }
  }
  EXPECT_FALSE(seen.empty());
}

std::vector<uint8_t> words(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> bytes;
  for (uint32_t v : values) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return bytes;
}

TEST(TraceDecoder, DecodesKnownRecordsAndRefusesToGuess) {
  // The log-directory failure with errno 13.
  const std::vector<uint8_t> good = words({9248, 15, 2, 4, 13});
  DecodeResult result = decodeTrace(good);
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.lines.size(), 1u);
  EXPECT_NE(result.lines[0].find("9248:15:2"), std::string::npos);
  EXPECT_NE(result.lines[0].find("errno 13"), std::string::npos);

  struct Case {
    const char* what;
    std::vector<uint8_t> data;
  };
  const Case cases[] = {
      {"unknown identifier", words({9248, 15, 999})},
      {"header cut short", std::vector<uint8_t>(good.begin(), good.begin() + 10)},
      {"argument cut short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
      {"argument of the wrong size", words({9248, 15, 2, 2, 13})},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> data = good;  // one good record first: it is still shown
    data.insert(data.end(), c.data.begin(), c.data.end());
    result = decodeTrace(data);
    EXPECT_FALSE(result.ok) << c.what;
    EXPECT_EQ(result.lines.size(), 1u) << c.what;
    EXPECT_FALSE(result.error.empty()) << c.what;
  }
}

TEST(TraceDecoder, RendersHexPlaceholdersAndQuotesTexts) {
  EXPECT_EQ(renderMessage("at {x}: {}", {"255", "\"a\\n\""}, {"0xFF", "\"a\\n\""}),
            "at 0xFF: \"a\\n\"");
  EXPECT_EQ(renderMessage("plain", {"1"}, {"0x1"}), "plain 1");
}

TEST(HlvtraceProgram, ExitsNonZeroOnARecordItCannotDecode) {
  test::TempDir dir;
  test::writeBinaryFile(dir / "good.etl", words({9248, 15, 1, 4, 2}));
  test::writeBinaryFile(dir / "bad.etl", words({9248, 15, 1, 4}));
  test::ProcessResult good = test::runProcess(test::builtProgram("hlvtrace"), {dir / "good.etl"});
  EXPECT_EQ(good.exitStatus, 0) << good.err;
  EXPECT_NE(good.out.find("9248:15:1"), std::string::npos);
  test::ProcessResult bad = test::runProcess(test::builtProgram("hlvtrace"), {dir / "bad.etl"});
  EXPECT_NE(bad.exitStatus, 0);
  EXPECT_NE(bad.err.find("truncated"), std::string::npos);
}

}  // namespace
}  // namespace hlv::trace
