// hlvquery on labs of emulated adapters (`hlvsim query LAB -- ARGS`): its JSON against its
// schema and against what the lab's flashes hold, its metrics through a real parser of the text
// format, the runs it reads back from the tool's reports, and that it changes nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/lab_scenario.h"
#include "tests/support/operator_texts.h"
#include "tests/support/files.h"
#include "tests/support/json_reader.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hlvsim_lab.h"

namespace hlv::test {
namespace {

constexpr FirmwareVersion kOld{1, 5, 90};
constexpr FirmwareVersion kNew{1, 6, 2};
constexpr FirmwareVersion kBeforeUpdate{1, 5, 86};

const std::string kPython = "/usr/bin/python3";
const std::string kSupport = std::string(HLV_SOURCE_DIR) + "/tests/support/";

LabAdapter offered(LabAdapter adapter, StatusText status) {
  adapter.image = "fw_20c3.bin";
  adapter.status = std::move(status);
  return adapter;
}

// Updated once (a rollback target, nothing newer in the bundle); never updated; never updated
// and its running option ROM damaged.
LabSpec queryLab() {
  LabSpec lab;
  LabAdapter damaged = typeTwoLayoutAdapter("enp3s0", kOld);
  damaged.flash.ncbs[0].romCrc.kind = image::CrcSpec::Kind::kBad;
  lab.adapters = {offered(updatedAdapter("enp1s0", kBeforeUpdate, kNew), notRequiredStatus()),
                  offered(typeTwoLayoutAdapter("enp2s0", kOld), availableStatus(kNew)),
                  offered(damaged, availableStatus(kNew))};
  lab.images = {bundleImage("fw_20c3.bin", kNew)};
  lab.database = database(boardEntry("t1", 0x20C3, 0x1F70, 0x1028, "fw_20c3.bin"));
  return lab;
}

struct Expected {
  uint64_t activeNcb;
  bool componentsOk;
  bool rollbackPossible;
  bool updateAvailable;
};
// An update activates the block of the other bank: NCB1 after the first.
const Expected kExpected[] = {
    {1, true, true, false}, {0, true, false, true}, {0, false, false, true}};

ProcessResult query(const TempDir& directory, const Lab& lab, std::vector<std::string> args) {
  const std::string work = directory.path() + "/work";
  std::filesystem::create_directories(work);
  args.insert(args.begin(), {"query", lab.root(), "--"});
  ProcessOptions options;
  options.workDir = work;
  options.timeoutSeconds = 120;
  return runProcess(builtProgram("hlvsim"), args, options);
}

JsonValue parsed(const std::string& text) {
  std::string error;
  const std::optional<JsonValue> value = parseJson(text, error);
  EXPECT_TRUE(value) << error << "\n" << text;
  return value.value_or(JsonValue());
}

// The samples of a metrics file as the Prometheus client library parses them: name and sorted
// labels to value.
std::map<std::string, double> metrics(const std::string& path) {
  const ProcessResult parsedFile = runProcess(kPython, {kSupport + "parse_prometheus.py", path});
  EXPECT_EQ(parsedFile.exitStatus, 0) << parsedFile.err;
  std::map<std::string, double> samples;
  const JsonValue all = parsed(parsedFile.out);
  for (const JsonValue& sample : all["samples"].items()) {
    std::string key = sample[0].text() + "{";
    for (const auto& [label, value] : sample[1].members())
      key += label + "=" + value.text() + ",";
    samples[key + "}"] = std::stod(sample[2].text());
  }
  return samples;
}

TEST(Hlvquery, TellsEachFlashsStateAndTheBundlesOfferAndChangesNothing) {
  TempDir directory;
  Lab lab(directory, queryLab());
  const std::string metricsDirectory = directory.path() + "/textfile";
  ASSERT_EQ(mkdir(metricsDirectory.c_str(), 0755), 0);
  const std::string metricsFile = metricsDirectory + "/hlv.prom";
  const ProcessResult run = query(
      directory, lab, {"--json", "--bundle", lab.root() + "/tool", "--prometheus", metricsFile});
  ASSERT_EQ(run.exitStatus, 0) << run.err;

  // Nothing written to the adapters, and no log directory.
  for (std::size_t i = 0; i < lab.spec().adapters.size(); ++i) {
    EXPECT_TRUE(lab.flashAfter(i) == lab.flashBefore(i)) << i;
    EXPECT_EQ(statValue(lab.stats(i), "modifying_transfers"), 0) << lab.stats(i);
    EXPECT_EQ(statValue(lab.stats(i), "violations"), 0) << lab.stats(i);
  }
  EXPECT_FALSE(std::filesystem::exists(lab.root() + "/tool/logs"));

  const std::string output = directory.path() + "/query.json";
  writeFile(output, run.out);
  const ProcessResult schema =
      runProcess(kPython, {kSupport + "check_json_schema.py",
                           std::string(HLV_SOURCE_DIR) + "/schema/query.schema.json", output});
  EXPECT_EQ(schema.exitStatus, 0) << schema.err;

  const JsonValue report = parsed(run.out);
  const std::map<std::string, double> samples = metrics(metricsFile);
  const std::vector<JsonValue>& adapters = report["adapters"].items();
  ASSERT_EQ(adapters.size(), 3u);
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    SCOPED_TRACE(lab.displayName(i));
    const JsonValue& a = adapters[i];
    const LabAdapter& spec = lab.spec().adapters[i];
    const Expected& e = kExpected[i];
    EXPECT_EQ(a["pci_address"].text(), lab.bdf(i));
    EXPECT_EQ(a["running_firmware"].text(), spec.running.toString());
    EXPECT_EQ(a["flash"]["active_ncb"].asUint64(), e.activeNcb);
    EXPECT_EQ(a["flash"]["components_ok"].boolean(), e.componentsOk);
    EXPECT_EQ(a["flash"]["rollback_possible"].boolean(), e.rollbackPossible);
    if (e.rollbackPossible) {
      EXPECT_EQ(a["flash"]["rollback_version"].text(), spec.previous.toString());
      EXPECT_EQ(a["previous_firmware"].text(), spec.previous.toString());
    }
    EXPECT_EQ(a["bundle"]["update_available"].boolean(), e.updateAvailable);
    EXPECT_EQ(a["bundle"]["image"]["version"].text(), kNew.toString());
    EXPECT_TRUE(a["bundle"]["key_check"]["accepted"].boolean());

    const std::string labels = "bdf=" + lab.bdf(i) + ",ifname=" + lab.displayName(i) + ",";
    const std::string previous = spec.previous.isZero() ? "" : spec.previous.toString();
    EXPECT_EQ(samples.count("hlv_adapter_firmware_info{" + labels + "device=20C3,version=" +
                            spec.running.toString() + ",previous=" + previous + ",}"),
              1u);
    EXPECT_EQ(samples.at("hlv_adapter_components_ok{" + labels + "}"), e.componentsOk ? 1 : 0);
    EXPECT_EQ(samples.at("hlv_adapter_rollback_possible{" + labels + "}"),
              e.rollbackPossible ? 1 : 0);
    EXPECT_EQ(samples.at("hlv_update_available{" + labels + "image_version=1.6.2,}"),
              e.updateAvailable ? 1 : 0);
  }
  EXPECT_EQ(samples.at("hlv_adapters{}"), 3);
  // No run recorded yet: no last run to tell.
  EXPECT_EQ(samples.count("hlv_last_run_status{}"), 0u);
  struct stat status {};
  ASSERT_EQ(stat(metricsFile.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(metricsDirectory),
                          std::filesystem::directory_iterator()),
            1)
      << "a temporary file was left";
}

// After a run of the tool: its history as the report tells it, and its status in the metrics.
TEST(Hlvquery, ReadsTheRunsBackFromTheirReports) {
  TempDir directory;
  Lab lab(directory, queryLab());
  const ProcessResult updated = lab.run({.args = {"-s"}});
  ASSERT_NE(lab.logDirectory(), "");

  const ProcessResult history = query(directory, lab, {"--history", "--json"});
  ASSERT_EQ(history.exitStatus, 0) << history.err;
  const JsonValue runs = parsed(history.out);
  ASSERT_EQ(runs["runs"].items().size(), 1u);
  const JsonValue& run = runs["runs"][0];
  EXPECT_EQ(run["exit_status"].asInt64(), updated.exitStatus);
  EXPECT_EQ(lab.logDirectory(), lab.root() + "/tool/logs/" + run["log_directory"].text() + "/");
  const std::string recorded = readFile(lab.logDirectory() + "report.json");
  const JsonValue report = parsed(recorded);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(run["adapters"][i]["firmware_after"].text(),
              report["adapters"][i]["firmware_after"].text());
    EXPECT_EQ(run["adapters"][i]["attempted"].boolean(),
              report["adapters"][i]["attempted"].boolean());
  }
  EXPECT_EQ(run["adapters"][1]["firmware_before"].text(), kOld.toString());
  EXPECT_EQ(run["adapters"][1]["firmware_after"].text(), kNew.toString());

  const std::string metricsDirectory = directory.path() + "/textfile";
  ASSERT_EQ(mkdir(metricsDirectory.c_str(), 0755), 0);
  const ProcessResult withMetrics =
      query(directory, lab, {"--prometheus", metricsDirectory + "/hlv.prom"});
  ASSERT_EQ(withMetrics.exitStatus, 0) << withMetrics.err;
  const std::map<std::string, double> samples = metrics(metricsDirectory + "/hlv.prom");
  EXPECT_EQ(samples.at("hlv_last_run_status{}"), updated.exitStatus);
  EXPECT_GT(samples.at("hlv_last_run_timestamp_seconds{}"), 1.7e9);
}

// A metrics directory that others may write into is not written in: a link planted there would
// otherwise have root write wherever it points.
TEST(Hlvquery, RefusesAMetricsDirectoryOthersMayWriteInto) {
  TempDir directory;
  Lab lab(directory, queryLab());
  const std::string shared = directory.path() + "/shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
  const ProcessResult run = query(directory, lab, {"--prometheus", shared + "/hlv.prom"});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_FALSE(run.err.empty());
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(shared),
                          std::filesystem::directory_iterator()),
            0);
}

}  // namespace
}  // namespace hlv::test
