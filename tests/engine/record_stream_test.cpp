// The record streams of the configuration areas, and the patch records' masked writes.
#include "engine/record_stream.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "tests/engine/record_words.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::words16;
using test::words32;

// Group header: argument in bits 6:2, count in bits 15:7.
constexpr uint32_t group(uint32_t argument, uint32_t count) {
  return (argument << 2) | (count << 7);
}

struct Walk {
  int result;
  uint32_t consumed;
  std::vector<RecordEntry> entries;
};

Walk walk(const std::vector<uint8_t>& stream, const RecordStreamFormat& format) {
  Walk w{};
  w.result = walkRecordStream(
      stream, format,
      [&](const RecordEntry& entry) {
        w.entries.push_back(entry);
        return kRecordContinue;
      },
      w.consumed);
  return w;
}

TEST(RecordStream, WalksSectionsGroupsAndEntries) {
  struct Case {
    const char* what;
    std::vector<uint8_t> stream;
    int result;
    uint32_t consumed;
    std::vector<uint32_t> indices;  // of the entries visited, in order
  };
  const Case cases[] = {
      {"one section, one group", words32({0x0102, group(0x10, 1), 5, 6, 7, 0}), 0, 24, {5}},
      {"type-4 stream", words32({0x0004, group(1, 1), 9, 0, 0, 0}), 0, 24, {9}},
      {"empty group", words32({0x0002, group(1, 0), 0}), 0, 12, {}},
      {"two groups",
       words32({0x0002, group(1, 1), 1, 0, 0, group(2, 1), 2, 0, 0, 0}),
       0,
       40,
       {1, 2}},
      {"second section of the same type",
       words32({0x0002, group(1, 1), 1, 0, 0, 0x0002, group(1, 1), 2, 0, 0, 0}),
       0,
       44,
       {1, 2}},
      {"a type-2 section ends a type-4 stream",
       words32({0x0004, group(1, 1), 1, 0, 0, 0x0002, group(1, 1), 2, 0, 0, 0}),
       0,
       24,
       {1}},
      {"two optional words skipped",
       words32({0x4002, 0x2000, 0xE000, group(3, 1), 4, 0, 0, 0}),
       0,
       32,
       {4}},
      {"optional words end at the group header",
       words32({0x6002, 0x2000, group(3, 1), 4, 0, 0, 0}),
       0,
       28,
       {4}},
      {"first word of another type", words32({0x0003, group(1, 1), 1, 0, 0, 0}), 0, 4, {}},
      {"neither end, section nor group after the entries",
       words32({0x0002, group(1, 1), 1, 0, 0, 0x0001}),
       -1,
       24,
       {1}},
      {"entries cut short", words32({0x0002, group(1, 2), 1, 0, 0, 2, 0}), -1, 28, {1}},
      {"no zero word", words32({0x0002, group(1, 1), 1, 0, 0}), -1, 20, {1}},
      {"no group header", words32({0x0002}), -1, 4, {}},
      {"empty stream", {}, -1, 0, {}},
      {"stream not a whole number of words", {0x02, 0x00, 0x00}, -1, 0, {}},
  };
  for (const Case& c : cases) {
    const Walk w = walk(c.stream, kRecordStream32);
    EXPECT_EQ(w.result, c.result) << c.what;
    EXPECT_EQ(w.consumed, c.consumed) << c.what;
    std::vector<uint32_t> indices;
    for (const RecordEntry& e : w.entries)
      indices.push_back(e.index);
    EXPECT_EQ(indices, c.indices) << c.what;
  }
}

TEST(RecordStream, ReportsTheArgumentsOfEachEntry) {
  const Walk d = walk(image::areaDRecord(true), kRecordStream32);
  ASSERT_EQ(d.result, 0);
  ASSERT_EQ(d.entries.size(), 1u);
  EXPECT_EQ(d.consumed, 24u);
  EXPECT_EQ(d.entries[0].sectionType, 2u);
  EXPECT_EQ(d.entries[0].sectionArgument, 1u);
  EXPECT_EQ(d.entries[0].groupArgument, 0x10u);
  EXPECT_EQ(d.entries[0].index, 0u);
  EXPECT_EQ(d.entries[0].second, 1u);
  EXPECT_EQ(d.entries[0].third, 1u);
}

TEST(RecordStream, SixteenBitStreamsUseTheirOwnSectionType) {
  const Walk e = walk(image::areaERecord(true), kRecordStream16);
  ASSERT_EQ(e.result, 0);
  EXPECT_EQ(e.consumed, 12u);
  ASSERT_EQ(e.entries.size(), 1u);
  EXPECT_EQ(e.entries[0].groupArgument, 1u);
  EXPECT_EQ(e.entries[0].index, 0xE400u);
  EXPECT_EQ(e.entries[0].second, 3u);
  EXPECT_EQ(e.entries[0].third, 3u);

  const Walk two =
      walk(words16({0x0103, 0x0084, 0xE400, 2, 3, 0x0003, 0x0084, 7, 8, 9, 0}), kRecordStream16);
  EXPECT_EQ(two.result, 0);
  EXPECT_EQ(two.entries.size(), 2u);
  EXPECT_EQ(two.consumed, 22u);

  EXPECT_EQ(walk(image::areaDRecord(false), kRecordStream16).entries.size(), 0u)
      << "a 32-bit stream is no 16-bit stream";
  EXPECT_EQ(walk(words16({0x0103, 0x0084, 0xE400, 2}), kRecordStream16).result, -1);
}

TEST(RecordStream, TheVisitorCanFailOrStopTheWalk) {
  const std::vector<uint8_t> stream = words32({0x0002, group(1, 3), 1, 0, 0, 2, 0, 0, 3, 0, 0, 0});
  struct Case {
    const char* what;
    int verdictAtSecond;
    int result;
    uint32_t consumed;
  };
  const Case cases[] = {
      {"continue", kRecordContinue, 0, 48},
      {"fail", kRecordFail, -1, 32},
      {"stop", 1, 0, 32},
      {"stop with another value", 7, 0, 32},
  };
  for (const Case& c : cases) {
    int seen = 0;
    uint32_t consumed = 0;
    const int result = walkRecordStream(
        stream, kRecordStream32,
        [&](const RecordEntry&) { return ++seen == 2 ? c.verdictAtSecond : kRecordContinue; },
        consumed);
    EXPECT_EQ(result, c.result) << c.what;
    EXPECT_EQ(consumed, c.consumed) << c.what;
  }
}

TEST(PatchRecords, MaskedWritesChangeOnlyTheMaskedBitsOfWordsInTheBlock) {
  SettingsBlock block{};
  block[13] = 0x00010203;
  block[127] = 0xFFFFFFFF;
  const std::vector<uint8_t> stream =
      words32({0x0002, group(1, 4), 13, 0x00FF0000, 0x00030000,  // major byte only
               127, 0x0000FF00, 0x12345678,                      // the last word of the block
               128, 0xFFFFFFFF, 0xDEADBEEF,                      // outside the block: skipped
               0xFFFFFFFF, 0xFFFFFFFF, 1,                        // far outside: skipped
               0});
  uint32_t consumed = 0;
  EXPECT_EQ(applyPatchRecords(stream, applyMaskedWrite, block, consumed), 0);
  EXPECT_EQ(consumed, stream.size());
  EXPECT_EQ(block[13], 0x00030203u);
  EXPECT_EQ(block[127], 0xFFFF56FFu);
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (i != 13 && i != 127) {
      EXPECT_EQ(block[i], 0u) << "word " << i;
    }
  }
}

}  // namespace
}  // namespace hlv
