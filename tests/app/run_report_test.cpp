// The run report on its own: how it is written into the run's directory, and what it makes of
// texts that are not UTF-8 and of statuses whose number means different things.
#include "app/run_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "device/pci_discovery.h"
#include "tests/support/files.h"
#include "tests/support/json_reader.h"
#include "tests/support/scoped_umask.h"
#include "tests/support/temp_dir.h"

namespace hlv::test {
namespace {

class RunReportFile : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::FileProblem problem;
    logs_ = trace::makeLogDirectory(root_.path() + "/", "run", problem);
    ASSERT_TRUE(logs_.isOpen()) << problem.reason;
  }
  std::string path(const std::string& name) const { return logs_.path() + name; }

  TempDir root_;
  trace::LogDirectory logs_;
};

TEST_F(RunReportFile, IsPrivateWholeAndNeverReplacesAFileOrFollowsALink) {
  const ScopedUmask wide(0);
  ASSERT_EQ(writeRunReport(logs_, "{\"first\": 1}\n"), 0);
  struct stat status {};
  ASSERT_EQ(lstat(path("report.json").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(readFile(path("report.json")), "{\"first\": 1}\n");
  EXPECT_FALSE(std::filesystem::exists(path("report.json.incomplete")));

  // A second report of the same run does not replace the first, and leaves nothing behind.
  EXPECT_EQ(writeRunReport(logs_, "{\"second\": 2}\n"), EEXIST);
  EXPECT_EQ(readFile(path("report.json")), "{\"first\": 1}\n");
  EXPECT_FALSE(std::filesystem::exists(path("report.json.incomplete")));
}

TEST_F(RunReportFile, ALinkPlantedUnderTheTemporaryNameIsNotWrittenThrough) {
  const std::string victim = root_.path() + "/victim";
  writeFile(victim, "not the report's\n");
  ASSERT_EQ(symlink(victim.c_str(), path("report.json.incomplete").c_str()), 0);
  EXPECT_EQ(writeRunReport(logs_, "{}\n"), EEXIST);
  EXPECT_EQ(readFile(victim), "not the report's\n");
  EXPECT_FALSE(std::filesystem::exists(path("report.json")));
}

AdapterEntry adapterNamed(const std::string& name, const std::string& driverVersion) {
  auto info = std::make_unique<AdapterInfo>();
  info->bdf = "0000:01:00.0";
  info->interfaceName = name;
  info->driverVersion = driverVersion;
  info->vendorId = 0x1E9C;
  info->deviceId = 0x20C3;
  AdapterEntry entry(0, std::move(info));
  entry.status = AdapterStatus::NotAvailable;
  entry.statusReason = "a board the tool does not update";
  return entry;
}

JsonValue parsedReport(const RunFacts& facts) {
  std::string error;
  const std::optional<JsonValue> parsed = parseJson(formatRunReport(facts), error);
  EXPECT_TRUE(parsed) << error;
  return parsed ? *parsed : JsonValue();
}

TEST(RunReportText, ReplacesMalformedUtf8AndKeepsEveryOtherByteOfSysfsTexts) {
  std::vector<AdapterEntry> entries;
  entries.push_back(adapterNamed("en\xFFp1s0 \xC3\xA9", "2.4.1\n"));
  RunFacts facts;
  facts.entries = &entries;
  facts.adapterName = "\xC3";
  const JsonValue report = parsedReport(facts);
  const JsonValue& adapter = report["adapters"][0];
  EXPECT_EQ(adapter["interface_name"].text(), "en\xEF\xBF\xBDp1s0 \xC3\xA9");
  EXPECT_EQ(adapter["driver_version"].text(), "2.4.1\n");
  EXPECT_EQ(report["options"]["adapter_name"].text(), "\xEF\xBF\xBD");
  EXPECT_EQ(adapter["hwid"].text(), "VEN_1E9C&DEV_20C3&SUBSYS_00000000");
  EXPECT_EQ(adapter["status"].text(), "Not available");
  EXPECT_FALSE(adapter["attempted"].boolean());
}

// 15 is a backup's short read and the engine's failed flash read; 3 is "no image" for the update
// procedure and "block not usable" for the engine: the report explains each by the step it
// came from.
struct MeaningCase {
  const char* what;
  std::optional<uint32_t> backupStatus;
  uint32_t result;
  bool rollback;
  const char* meaning;
};

TEST(RunReportText, ExplainsEachResultByTheStepThatGaveIt) {
  const MeaningCase cases[] = {
      {"a backup that read short", 15u, 15, false,
       "the backup failed, the flash was not touched: the flash read short"},
      {"an update whose flash read failed", 0u, 15, false, "the flash could not be read"},
      {"an update that found no image", 0u, 3, false,
       "no image, or no usable update interface, when it came to it"},
      {"a rollback without previous firmware", std::nullopt, 2, true,
       "the adapter keeps no previous firmware: no rollback is possible"},
      {"a rollback the engine refused", 0u, 24, true,
       "a control block fails its CRC or its structure"},
  };
  for (const MeaningCase& c : cases) {
    std::vector<AdapterEntry> entries;
    entries.push_back(adapterNamed("enp1s0", ""));
    std::vector<AdapterOutcome> outcomes(1);
    outcomes[0].attempted = true;
    outcomes[0].backupStatus = c.backupStatus;
    outcomes[0].result = c.result;
    RunFacts facts;
    facts.rollback = c.rollback;
    facts.entries = &entries;
    facts.outcomes = &outcomes;
    facts.end = c.rollback ? RunEnd::kRollbackDone : RunEnd::kUpdatesDone;
    facts.exitStatus = static_cast<int>(c.result);
    const JsonValue report = parsedReport(facts);
    EXPECT_EQ(report["adapters"][0]["result_meaning"].text(), c.meaning) << c.what;
    EXPECT_TRUE(report["exit_meaning"].text().ends_with(c.meaning)) << c.what;
  }
}

}  // namespace
}  // namespace hlv::test
