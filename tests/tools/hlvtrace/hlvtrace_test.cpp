// hlvtrace: the catalogue of trace points, decoding records to text and JSON, and the program's
// command line.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>

#include "tests/support/files.h"
#include "tests/support/json_reader.h"
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

// Each table of the program gives out only the numbers trace_ids.h gives it (the build checks
// that its points lie in them), and trace_ids.h speaks of no table that is gone.
TEST(TraceCatalog, EveryTableHasItsNumbersAndEveryEntryItsTable) {
  std::set<std::string_view> tables;
  for (const TableInfo* table : traceCatalog()) {
    tables.insert(table->name);
    ASSERT_NE(table->numbers, nullptr)
        << table->name << " has no entry in kPointNumbers (trace/trace_ids.h)";
    for (const PointInfo& point : table->points) {
      EXPECT_TRUE(table->numbers->contains(point.point)) << table->name << "." << point.name;
      EXPECT_FALSE(isRetired(table->component, table->file, point.point))
          << table->name << "." << point.name;
    }
  }
  for (const PointNumbers& numbers : kPointNumbers)
    EXPECT_TRUE(tables.contains(numbers.table)) << numbers.table << " has no table";
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

// A record of the point with the given arguments, in the trace file's encoding.
struct RecordWriter {
  std::vector<uint8_t> bytes;
  void word(uint64_t value, unsigned width) {
    for (unsigned i = 0; i < width; ++i)
      bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
  void header(const TableInfo& table, const PointInfo& point) {
    word(table.component, 4);
    word(table.file, 4);
    word(point.point, 4);
  }
  void number(ArgKind kind, uint64_t value) {
    word(argWidth(kind), 4);
    word(value, argWidth(kind));
  }
  void text(std::string_view value) {
    word(value.size(), 4);
    bytes.insert(bytes.end(), value.begin(), value.end());
  }
};

// The extreme value of each number kind, as the record carries it and as JSON must show it.
struct NumberCase {
  uint64_t raw;
  const char* json;
};
NumberCase extremeOf(ArgKind kind) {
  switch (kind) {
    case ArgKind::kBool:
      return {1, "true"};
    case ArgKind::kU8:
      return {0xFF, "255"};
    case ArgKind::kU16:
      return {0xFFFF, "65535"};
    case ArgKind::kU32:
      return {0xFFFFFFFF, "4294967295"};
    case ArgKind::kI32:
      return {0x80000000, "-2147483648"};
    case ArgKind::kU64:
      return {std::numeric_limits<uint64_t>::max(), "18446744073709551615"};
    case ArgKind::kI64:
      return {uint64_t{1} << 63, "-9223372036854775808"};
    case ArgKind::kText:
      break;
  }
  return {0, "?"};
}

struct TextCase {
  const char* what;
  std::string bytes;
  bool wellFormed;  // the JSON value is then the text itself; else it carries "bytes"
};
const std::vector<TextCase>& textCases() {
  static const std::vector<TextCase> cases = {
      {"plain", "enp3s0", true},
      {"empty", "", true},
      {"quotes and backslashes", "say \"hi\" C:\\dir\\", true},
      {"control bytes and a NUL", std::string("a\x01\x1F\n\t\r\0z", 8), true},
      {"delete and UTF-8 letters", "\x7F caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", true},
      {"a byte that is not UTF-8", "board\xFF\xFE", false},
      {"overlong NUL", "\xC0\x80", false},
      {"encoded surrogate", "\xED\xA0\x80", false},
      {"sequence cut short at the end", "euro \xE2\x82", false},
      {"past U+10FFFF", "\xF4\x90\x80\x80", false},
  };
  return cases;
}

// Every point of the catalogue, with extreme numbers and each awkward text in turn, gives one
// line of valid JSON that carries the identifiers, the names, each argument with its type and
// exact value, and the same message as the text output.
TEST(HlvtraceJson, EveryPointGivesValidJsonWithTypedArgumentsWhateverItsTextsHold) {
  std::size_t textsSeen = 0;
  for (const TableInfo* table : traceCatalog()) {
    for (const PointInfo& point : table->points) {
      for (const TextCase& textCase : textCases()) {
        RecordWriter writer;
        writer.header(*table, point);
        bool hasText = false;
        for (uint8_t i = 0; i < point.argCount; ++i) {
          if (point.kinds[i] == ArgKind::kText) {
            writer.text(textCase.bytes);
            hasText = true;
          } else {
            writer.number(point.kinds[i], extremeOf(point.kinds[i]).raw);
          }
        }
        const std::string what =
            std::string(table->name) + "." + point.name + " with " + textCase.what;
        const DecodeResult decoded = decodeTrace(writer.bytes);
        ASSERT_TRUE(decoded.ok) << what << ": " << decoded.error;
        ASSERT_EQ(decoded.records.size(), 1u) << what;
        const std::string line = formatRecordJson(decoded.records[0]);
        EXPECT_EQ(line.find('\n'), std::string::npos) << what;
        std::string error;
        const std::optional<test::JsonValue> json = test::parseJson(line, error);
        ASSERT_TRUE(json) << what << ": " << error << "\n" << line;
        EXPECT_EQ((*json)["offset"].asUint64(), 0u) << what;
        EXPECT_EQ((*json)["component"].asUint64(), table->component) << what;
        EXPECT_EQ((*json)["file"].asUint64(), table->file) << what;
        EXPECT_EQ((*json)["point"].asUint64(), point.point) << what;
        EXPECT_EQ((*json)["table"].text(), table->name) << what;
        EXPECT_EQ((*json)["name"].text(), point.name) << what;
        const std::string textLine = formatRecordText(decoded.records[0]);
        EXPECT_EQ((*json)["message"].text(), textLine.substr(textLine.find(": ") + 2)) << what;
        const test::JsonValue& args = (*json)["args"];
        ASSERT_EQ(args.items().size(), point.argCount) << what;
        for (uint8_t i = 0; i < point.argCount; ++i) {
          const test::JsonValue& arg = args[i];
          EXPECT_EQ(arg["type"].text(), argKindName(point.kinds[i])) << what;
          if (point.kinds[i] == ArgKind::kText) {
            ++textsSeen;
            ASSERT_EQ(arg["value"].type(), test::JsonValue::Type::kString) << what;
            if (textCase.wellFormed) {
              EXPECT_EQ(arg["value"].text(), textCase.bytes) << what;
              EXPECT_FALSE(arg.has("bytes")) << what;
            } else {
              EXPECT_NE(arg["value"].text().find("\xEF\xBF\xBD"), std::string::npos) << what;
              std::ostringstream hex;
              for (unsigned char c : textCase.bytes)
                hex << "0123456789abcdef"[c >> 4] << "0123456789abcdef"[c & 15];
              EXPECT_EQ(arg["bytes"].text(), hex.str()) << what;
            }
          } else if (point.kinds[i] == ArgKind::kBool) {
            EXPECT_EQ(arg["value"].type(), test::JsonValue::Type::kBool) << what;
            EXPECT_TRUE(arg["value"].boolean()) << what;
          } else {
            EXPECT_EQ(arg["value"].type(), test::JsonValue::Type::kNumber) << what;
            EXPECT_EQ(arg["value"].text(), extremeOf(point.kinds[i]).json) << what;
          }
        }
        if (!hasText) break;  // the text cases change nothing for this point
      }
    }
  }
  EXPECT_GT(textsSeen, 0u) << "the catalogue has no point with a text argument";
}

TEST(HlvtraceProgram, JsonOutputIsOneObjectPerRecordAndErrorsStillFail) {
  // Two known records (log directory failures, errno 2 and -5), with offsets 0 and 20.
  const std::vector<uint8_t> good = words({9248, 15, 1, 4, 2, 9248, 15, 2, 4, 0xFFFFFFFB});
  struct Case {
    const char* what;
    std::vector<uint8_t> tail;
    int exitStatus;
    const char* stderrNames;
  };
  const Case cases[] = {
      {"two good records", {}, 0, ""},
      {"a truncated third record", words({9248, 15, 1, 4}), 1, "truncated"},
      {"an unknown identifier", words({9248, 15, 999}), 1, "unknown trace point"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    std::vector<uint8_t> data = good;
    data.insert(data.end(), c.tail.begin(), c.tail.end());
    test::writeBinaryFile(dir / "run.etl", data);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--json", dir / "run.etl"},
          std::vector<std::string>{dir / "run.etl", "--json"}}) {
      const test::ProcessResult result = test::runProcess(test::builtProgram("hlvtrace"), args);
      EXPECT_EQ(result.exitStatus, c.exitStatus) << c.what << ": " << result.err;
      EXPECT_NE(result.err.find(c.stderrNames), std::string::npos) << c.what << ": " << result.err;
      std::istringstream lines(result.out);
      std::string line;
      std::vector<test::JsonValue> records;
      while (std::getline(lines, line)) {
        std::string error;
        const std::optional<test::JsonValue> json = test::parseJson(line, error);
        ASSERT_TRUE(json) << c.what << ": " << error << "\n" << line;
        records.push_back(*json);
      }
      ASSERT_EQ(records.size(), 2u) << c.what << "\n" << result.out;
      EXPECT_EQ(records[0]["offset"].asUint64(), 0u) << c.what;
      EXPECT_EQ(records[0]["message"].text(), "could not create the logs directory: errno 2");
      EXPECT_EQ(records[1]["offset"].asUint64(), 20u) << c.what;
      EXPECT_EQ(records[1]["name"].text(), "kRunDirectoryFailed") << c.what;
      EXPECT_EQ(records[1]["args"][0]["value"].asInt64(), -5) << c.what;
    }
  }
}

TEST(HlvtraceProgram, ShowsItsUsageOnRequestAndRefusesBadCommandLines) {
  struct Case {
    std::vector<std::string> args;
    int exitStatus;
  };
  const Case cases[] = {
      {{"-h"}, 0},
      {{"--help"}, 0},
      {{}, 2},
      {{"--json"}, 2},
      {{"--json", "a", "b"}, 2},
      {{"a", "b"}, 2},
      {{"/nonexistent/run.etl"}, 2},
  };
  for (const Case& c : cases) {
    const test::ProcessResult result = test::runProcess(test::builtProgram("hlvtrace"), c.args);
    const std::string what = c.args.empty() ? "no arguments" : c.args[0];
    EXPECT_EQ(result.exitStatus, c.exitStatus) << what;
    const std::string& shown = c.exitStatus == 0 ? result.out : result.err;
    EXPECT_FALSE(shown.empty()) << what;
  }
}

}  // namespace
}  // namespace hlv::trace
