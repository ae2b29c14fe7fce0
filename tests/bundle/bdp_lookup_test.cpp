// Finding an adapter's board entry in the database: by alias on this board, then by identity, and
// the board name read once.
#include "bundle/bdp_lookup.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/trace_capture.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

constexpr AdapterKey kAdapter{0x1E9C, 0x20C3, 0x0001, 0x1E9C};
constexpr HwId kAdapterId{0x1E9C, 0x20C3, 0x0001, 0x1E9C};
constexpr HwId kOtherId{0x1E9C, 0x21C3, 0x0001, 0x1E9C};

BdpEntry board(const std::string& id, std::vector<HwId> hwids) {
  BdpEntry entry;
  entry.id = id;
  entry.hwids = std::move(hwids);
  entry.image = id + ".bin";
  return entry;
}

AliasEntry alias(const std::string& id, std::vector<HwId> hwids,
                 std::vector<std::string> boardNames, const std::string& bdpId) {
  AliasEntry entry;
  entry.id = id;
  entry.hwids = std::move(hwids);
  for (std::string& name : boardNames)
    entry.systemIds.push_back({kSystemIdBaseboard, std::move(name)});
  entry.bdpId = bdpId;
  return entry;
}

// The machine's sysfs, with or without a board name file.
class LookupTest : public ::testing::Test {
 protected:
  void setBoardName(const std::optional<std::string>& text) {
    if (text) sysfs_.setBoardName(*text);
  }

  test::TempDir root_;
  test::FakeSysfs sysfs_{root_.path()};
  platform::RootedPlatform machine_{root_.path()};
  platform::ScopedPlatform installed_{machine_};
};

struct LookupCase {
  const char* what;
  UpdateDatabase database;
  std::optional<std::string> boardName;  // none: the file does not exist
  AdapterKey key;
  std::optional<std::string> expectedImage;  // the chosen entry's image; none: no entry
};

void PrintTo(const LookupCase& c, std::ostream* os) {
  *os << c.what;
}

const LookupCase kLookupCases[] = {
    {"the first of two board entries listing the adapter wins",
     {{board("b1", {kOtherId}), board("b2", {kOtherId, kAdapterId}), board("b3", {kAdapterId})},
      {}},
     "BX-100\n",
     kAdapter,
     "b2.bin"},
    {"all four identifiers must be equal; a zero only matches a zero",
     {{board("b1", {{0x1E9C, 0x20C3, 0x0001, 0}}), board("b2", {{0x1E9C, 0x20C3, 0, 0}})}, {}},
     "BX-100\n",
     {0x1E9C, 0x20C3, 0, 0},
     "b2.bin"},
    {"no board entry lists the adapter",
     {{board("b1", {kOtherId})}, {}},
     "BX-100\n",
     kAdapter,
     std::nullopt},
    {"an alias on this board sends the adapter to its board entry",
     {{board("b1", {kAdapterId}), board("b2", {})},
      {alias("a1", {kAdapterId}, {"BX-100\n"}, "b2")}},
     "BX-100\n",
     kAdapter,
     "b2.bin"},
    {"the board name keeps its line feed: a name without one does not match",
     {{board("b1", {kAdapterId}), board("b2", {})}, {alias("a1", {kAdapterId}, {"BX-100"}, "b2")}},
     "BX-100\n",
     kAdapter,
     "b1.bin"},
    {"any of an alias's boards may match",
     {{board("b1", {kAdapterId}), board("b2", {})},
      {alias("a1", {kAdapterId}, {"BX-200\n", "BX-100\n"}, "b2")}},
     "BX-100\n",
     kAdapter,
     "b2.bin"},
    {"an alias for another adapter is passed over",
     {{board("b1", {kAdapterId}), board("b2", {})}, {alias("a1", {kOtherId}, {"BX-100\n"}, "b2")}},
     "BX-100\n",
     kAdapter,
     "b1.bin"},
    {"an alias without a board never matches",
     {{board("b1", {kAdapterId}), board("b2", {})}, {alias("a1", {kAdapterId}, {}, "b2")}},
     "BX-100\n",
     kAdapter,
     "b1.bin"},
    {"without a board name file no alias matches",
     {{board("b1", {kAdapterId}), board("b2", {})}, {alias("a1", {kAdapterId}, {"\n"}, "b2")}},
     std::nullopt,
     kAdapter,
     "b1.bin"},
    {"an empty board name file matches no alias",
     {{board("b1", {kAdapterId}), board("b2", {})}, {alias("a1", {kAdapterId}, {""}, "b2")}},
     "",
     kAdapter,
     "b1.bin"},
    {"a matching alias whose board entry is missing gives none, with no fallback",
     {{board("b1", {kAdapterId}), board("b2", {})},
      {alias("a1", {kAdapterId}, {"BX-100\n"}, "missing"),
       alias("a2", {kAdapterId}, {"BX-100\n"}, "b2")}},
     "BX-100\n",
     kAdapter,
     std::nullopt},
    {"the first matching alias decides",
     {{board("b1", {kAdapterId}), board("b2", {}), board("b3", {})},
      {alias("a0", {kAdapterId}, {"BX-200\n"}, "b3"), alias("a1", {kAdapterId}, {"BX-100\n"}, "b2"),
       alias("a2", {kAdapterId}, {"BX-100\n"}, "b3")}},
     "BX-100\n",
     kAdapter,
     "b2.bin"},
};

class BoardEntryLookup : public LookupTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(BoardEntryLookup, ChoosesByAliasOnThisBoardThenByIdentity) {
  const LookupCase& c = GetParam();
  setBoardName(c.boardName);
  SystemInfoCache cache;
  const BdpEntry* found = findBdpEntry(c.database, c.key, cache);
  ASSERT_EQ(found != nullptr, c.expectedImage.has_value());
  if (found) {
    EXPECT_EQ(found->image, *c.expectedImage);
  }
}

INSTANTIATE_TEST_SUITE_P(Databases, BoardEntryLookup, ::testing::ValuesIn(kLookupCases));

TEST_F(LookupTest, TheLookupTracesAMatchedAliasAndAMissingTarget) {
  setBoardName("BX-100\n");
  const UpdateDatabase matched{{board("b1", {})}, {alias("a1", {kAdapterId}, {"BX-100\n"}, "b1")}};
  const UpdateDatabase missing{{board("b1", {})}, {alias("a1", {kAdapterId}, {"BX-100\n"}, "bx")}};
  SystemInfoCache cache;
  test::TraceCapture capture;
  findBdpEntry(matched, kAdapter, cache);
  findBdpEntry(missing, kAdapter, cache);
  const std::vector<std::string> lines = capture.lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "9248:1:10 bdp_lookup.kAliasMatched: alias matched");
  EXPECT_EQ(lines[1], R"(9248:1:5 database_entry.kAliasId: alias "a1")");
  EXPECT_EQ(lines.back(),
            R"(9248:1:9 bdp_lookup.kAliasTargetMissing: alias target board entry "bx" of alias )"
            R"("a1" not found)");
}

TEST_F(LookupTest, TheBoardNameIsReadOnceAndOnlyASuccessfulReadIsKept) {
  SystemInfoCache cache;
  EXPECT_EQ(systemIdValue(cache, kSystemIdBaseboard), "");
  EXPECT_TRUE(cache.empty());

  setBoardName("BX-100\nsecond line\n");
  EXPECT_EQ(systemIdValue(cache, kSystemIdBaseboard), "BX-100\n");
  setBoardName("BX-200\n");
  EXPECT_EQ(systemIdValue(cache, kSystemIdBaseboard), "BX-100\n");
  EXPECT_EQ(systemIdValue(cache, 1), "") << "an unknown kind has no value";
  EXPECT_EQ(cache.size(), 1u);
}

TEST_F(LookupTest, ALongBoardNameIsCutAt255Characters) {
  std::string name(300, 'x');
  name += '\n';
  setBoardName(name);
  SystemInfoCache cache;
  EXPECT_EQ(systemIdValue(cache, kSystemIdBaseboard), std::string(255, 'x'));
}

}  // namespace
}  // namespace hlv
