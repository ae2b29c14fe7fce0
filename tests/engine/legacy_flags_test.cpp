// The legacy configuration flags of the boards that carry them: the tables, the areas searched
// and the decision.
#include "engine/legacy_flags.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>
#include <vector>

#include "tests/engine/record_words.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::words16;
using test::words32;

TEST(LegacyFlagTables, HoldEveryKnownFirmwareOnceWithItsFlag) {
  struct Case {
    const char* table;
    std::span<const LegacyFlagEntry> entries;
    std::size_t size;
    std::vector<std::pair<uint16_t, bool>> samples;  // first, last and some in between
  };
  const Case cases[] = {
      {"PHY",
       kPhyLegacyFlags,
       57,
       {{0xE0EF, false},
        {0xBB05, true},
        {0x8363, false},
        {0x8D75, true},
        {0xFFAD, true},
        {0xE991, false},
        {0xC268, true}}},
      {"MAC",
       kMacLegacyFlags,
       54,
       {{0x96BE, false},
        {0x3334, true},
        {0x0CC6, true},
        {0x029C, false},
        {0xDE0F, false},
        {0xE621, true}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.entries.size(), c.size) << c.table;
    std::set<uint16_t> crcs;
    for (const LegacyFlagEntry& entry : c.entries) {
      EXPECT_TRUE(crcs.insert(entry.crc).second) << c.table << " " << std::hex << entry.crc;
      EXPECT_LE(entry.flag, 1) << c.table;
      EXPECT_EQ(entry.zero, 0) << c.table;
    }
    for (const auto& [crc, flag] : c.samples)
      EXPECT_EQ(lookupLegacyFlag(c.entries, crc), flag) << c.table << " " << std::hex << crc;
    EXPECT_EQ(lookupLegacyFlag(c.entries, 0x0000), std::nullopt) << c.table;
  }
  EXPECT_EQ(lookupLegacyFlag(kMacLegacyFlags, 0xE0EF), std::nullopt) << "PHY CRCs are not MAC's";
}

TEST(IsNewLegacyFirmware, OnlyAboveTheLastOldReleaseOfMajors1And3) {
  struct Case {
    FirmwareVersion version;
    bool isNew;
  };
  const Case cases[] = {
      {{1, 5, 86}, false}, {{1, 5, 87}, true},  {{1, 6, 0}, true},   {{1, 4, 200}, false},
      {{1, 0, 0}, false},  {{3, 0, 18}, false}, {{3, 0, 19}, true},  {{3, 1, 0}, true},
      {{2, 9, 99}, false}, {{4, 0, 0}, false},  {{0, 9, 99}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(isNewLegacyFirmware(c.version), c.isNew) << c.version.toString();
}

TEST(SearchAreaDFlag, FindsIndex0WithBit0InAGroupOfArgument0x10) {
  struct Case {
    const char* what;
    std::vector<uint8_t> area;
    bool flag;
  };
  // Group headers: argument in bits 6:2, entry count in bits 15:7.
  const uint32_t group10 = (0x10 << 2) | (1 << 7);
  const uint32_t group3 = (3 << 2) | (1 << 7);
  const Case cases[] = {
      {"the record of a new block, flag set", image::areaDRecord(true), true},
      {"the record of a new block, flag clear", image::areaDRecord(false), false},
      {"another index", words32({2, group10, 1, 1, 1, 0}), false},
      {"bit 0 clear, other bits set", words32({2, group10, 0, 0xFFFFFFFE, 1, 0}), false},
      {"another group", words32({2, group3, 0, 1, 1, 0}), false},
      {"in a second group", words32({2, group3, 7, 7, 7, group10, 0, 1, 1, 0}), true},
      {"in a second section", words32({2, group3, 7, 7, 7, 0x102, group10, 0, 1, 1, 0}), true},
      {"a stream of type 4", words32({4, group10, 0, 1, 1, 0}), true},
      {"a format error before it", words32({2, group3, 7, 7, 7, 0x80000001, group10, 0, 1, 1}),
       false},
      {"cut off before it", words32({2, group3, 7, 7}), false},
      {"not a stream", words32({9, group10, 0, 1, 1, 0}), false},
      {"zeros", std::vector<uint8_t>(24, 0), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(searchAreaDFlag(c.area), c.flag) << c.what;
}

TEST(SearchAreaEFlag, FindsIndex0xE400WithBothLowBitsInAGroupOfArgument1) {
  struct Case {
    const char* what;
    std::vector<uint8_t> area;
    bool flag;
  };
  const uint16_t group1 = (1 << 2) | (1 << 7);
  const uint16_t group2 = (2 << 2) | (1 << 7);
  const Case cases[] = {
      {"the record of a new block, flag set", image::areaERecord(true), true},
      {"the record of a new block, flag clear", image::areaERecord(false), false},
      {"only bit 0", words16({3, group1, 0xE400, 1, 3, 0}), false},
      {"another group", words16({3, group2, 0xE400, 3, 3, 0}), false},
      {"another index", words16({3, group1, 0xE401, 3, 3, 0}), false},
      {"after another section", words16({3, group2, 1, 1, 1, 0x0103, group1, 0xE400, 7, 3, 0}),
       true},
      {"32-bit words", words32({3, group1, 0xE400, 3, 3, 0}), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(searchAreaEFlag(c.area), c.flag) << c.what;
}

TEST(DetermineLegacyFlags, FromTheAreasElseTheTablesElseZeroForNewFirmware) {
  struct Case {
    const char* what;
    std::function<void(image::NcbSpec&)> block;
    FirmwareVersion running;
    std::optional<std::pair<bool, bool>> flags;  // none: undecidable
  };
  auto noAreas = [](image::NcbSpec& n) {
    n.areas[3].kind = image::AreaSpec::Kind::kNone;
    n.areas[4].kind = image::AreaSpec::Kind::kNone;
  };
  auto crcs = [](uint16_t mac, uint16_t phy) {
    return [=](image::NcbSpec& n) {
      n.areas[3].kind = image::AreaSpec::Kind::kNone;
      n.areas[4].kind = image::AreaSpec::Kind::kNone;
      n.macCrc = {image::CrcSpec::Kind::kValue, mac};
      n.phyCrc = {image::CrcSpec::Kind::kValue, phy};
    };
  };
  const Case cases[] = {
      {"records in both areas",
       [](image::NcbSpec& n) {
         n.areaDFlag = true;
         n.areaEFlag = true;
       },
       {1, 0, 0},
       std::pair{true, true}},
      {"records win over the tables",
       [](image::NcbSpec& n) {
         n.macCrc = {image::CrcSpec::Kind::kValue, 0x3334};  // flag 1 in the table
         n.phyCrc = {image::CrcSpec::Kind::kValue, 0xBB05};  // flag 1 in the table
       },
       {1, 0, 0},
       std::pair{false, false}},
      {"both CRCs in the tables", crcs(0x3334, 0xE0EF), {1, 0, 0}, std::pair{true, false}},
      {"unknown MAC CRC, 1.5.86", crcs(0x1111, 0xBB05), {1, 5, 86}, std::nullopt},
      {"unknown MAC CRC, 1.5.87", crcs(0x1111, 0xBB05), {1, 5, 87}, std::pair{false, true}},
      {"unknown PHY CRC, 3.0.18", crcs(0x96BE, 0x2222), {3, 0, 18}, std::nullopt},
      {"unknown PHY CRC, 3.0.19", crcs(0xF108, 0x2222), {3, 0, 19}, std::pair{true, false}},
      {"unknown CRCs, major 2", crcs(0x1111, 0x2222), {2, 9, 0}, std::nullopt},
      {"areas of zeros hold no records",
       [](image::NcbSpec& n) {
         n.areas[3].kind = image::AreaSpec::Kind::kBytes;
         n.areas[3].bytes.assign(24, 0);
         n.areas[4].kind = image::AreaSpec::Kind::kBytes;
         n.areas[4].bytes.assign(12, 0);
         n.macCrc = {image::CrcSpec::Kind::kValue, 0x3334};
         n.phyCrc = {image::CrcSpec::Kind::kValue, 0x9260};
       },
       {1, 0, 0},
       std::pair{true, true}},
      {"no areas, unknown CRCs, new firmware", noAreas, {1, 9, 0}, std::pair{false, false}},
  };
  for (const Case& c : cases) {
    image::ImageSpec spec;
    c.block(spec.ncbs[0]);
    const std::vector<uint8_t> flash = image::buildImage(spec);
    bool flagD = false;
    bool flagE = false;
    const bool decided =
        determineLegacyFlags(ConstHalvernNcb(flash.data()), c.running, flagD, flagE);
    EXPECT_EQ(decided, c.flags.has_value()) << c.what;
    if (decided && c.flags) {
      EXPECT_EQ(flagD, c.flags->first) << c.what;
      EXPECT_EQ(flagE, c.flags->second) << c.what;
    }
  }
}

}  // namespace
}  // namespace hlv
