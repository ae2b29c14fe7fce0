// The table of status numbers: one meaning per number within a scope, the numbers that mean two
// things in two scopes are the ones its header names, and a lookup takes the scopes in order.
#include "shared/status_table.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

namespace hlv {
namespace {

TEST(StatusTable, EachNumberHasOneNameAndMeaningInItsScope) {
  std::set<std::string_view> names;
  std::set<std::pair<StatusScope, uint32_t>> numbers;
  for (const StatusInfo& row : statusTable()) {
    EXPECT_TRUE(names.insert(row.name).second) << row.name << " is given twice";
    EXPECT_TRUE(numbers.emplace(row.scope, row.number).second)
        << row.number << " means two things in the scope of " << row.name;
    EXPECT_FALSE(row.meaning.empty()) << row.name;
  }
}

// A number that means one thing in one scope and another in the next must be said so in the
// table's header, where a maintainer looks it up.
TEST(StatusTable, NumbersWithTwoMeaningsAreTheOnesItsHeaderNames) {
  std::map<uint32_t, std::set<std::string_view>> meanings;
  for (const StatusInfo& row : statusTable())
    meanings[row.number].insert(row.meaning);
  std::set<uint32_t> twoMeanings;
  for (const auto& [number, texts] : meanings) {
    if (number != 0 && texts.size() > 1) twoMeanings.insert(number);
  }
  EXPECT_EQ(twoMeanings, (std::set<uint32_t>{2, 3, 15, 39, 40, 41}));
}

TEST(StatusTable, ALookupTakesTheFirstScopeThatKnowsTheNumber) {
  const StatusInfo* reload = findStatus(39, {StatusScope::kFirmwareReload, StatusScope::kEngine});
  ASSERT_NE(reload, nullptr);
  EXPECT_EQ(reload->name, "kStatusNoFirmwareInterface");
  const StatusInfo* engine = findStatus(39, {StatusScope::kEngine, StatusScope::kFirmwareReload});
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->name, "kStatusAdapterNotUpdated");
  EXPECT_EQ(findStatus(40, {StatusScope::kBackup}), nullptr);
  EXPECT_EQ(statusMeaning(26, {StatusScope::kBackup, StatusScope::kEngine}),
            "an image component does not match its CRC");
  EXPECT_EQ(statusMeaning(77, {StatusScope::kEngine}), "status 77");
}

}  // namespace
}  // namespace hlv
