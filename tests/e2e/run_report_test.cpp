// The run report (report.json in the run's log directory) of whole runs of the tool on labs:
// valid against the schema in the repository, and telling what the console showed, the exit
// status the shell saw, the backups hold and the flashes were left with.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "engine/firmware_version.h"
#include "engine/flash_update_status.h"
#include "shared/sha256.h"
#include "tests/e2e/lab_scenario.h"
#include "tests/support/operator_texts.h"
#include "tests/support/files.h"
#include "tests/support/json_reader.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv::test {
namespace {

constexpr FirmwareVersion kOld{1, 5, 90};
constexpr FirmwareVersion kNew{1, 6, 2};
constexpr FirmwareVersion kBeforeUpdate{1, 5, 86};

const std::string kTypeOneEntry = boardEntry("t1", 0x20C3, 0x1F70, 0x1028, "fw_20c3.bin");

// A type-1 model whose firmware the update reloads, a type-2 model that needs a power cycle, one
// already up to date and one the bundle has no board entry for.
LabSpec mixedLab() {
  LabSpec lab;
  LabAdapter noEntry = typeTwoLayoutAdapter("enp4s0", kOld);
  noEntry.subsystemDeviceId = 0x1F71;
  lab.adapters = {
      offered(typeTwoLayoutAdapter("enp1s0", kOld), "fw_20c3.bin", availableStatus(kNew)),
      offered(typeTwoDevice(typeTwoLayoutAdapter("enp2s0", kOld)), "fw_21c3.bin",
              availableStatus(kNew)),
      offered(typeTwoLayoutAdapter("enp3s0", kNew), "fw_20c3.bin", notRequiredStatus()),
      offered(noEntry, "", notAvailableStatus()),
  };
  lab.images = {bundleImage("fw_20c3.bin", kNew), bundleImage("fw_21c3.bin", kNew, 0x21C3)};
  lab.database = database(kTypeOneEntry + boardEntry("t2", 0x21C3, 0x1F70, 0x1028, "fw_21c3.bin"));
  return lab;
}

// The first adapter's image has a component that fails its CRC; the second one's firmware never
// comes back after the reload.
LabSpec failureLab() {
  LabSpec lab;
  LabAdapter bad = typeTwoLayoutAdapter("enp1s0", kOld);
  bad.subsystemDeviceId = 0x1F72;
  LabAdapter stuck = typeTwoLayoutAdapter("enp2s0", kOld);
  stuck.conf = "firmware_stuck = yes\n";
  lab.adapters = {offered(bad, "fw_bad.bin", availableStatus(kNew)),
                  offered(stuck, "fw_20c3.bin", availableStatus(kNew))};
  BundleImage badImage = bundleImage("fw_bad.bin", kNew);
  badImage.spec.ncbs[0].romCrc.kind = image::CrcSpec::Kind::kBad;
  lab.images = {bundleImage("fw_20c3.bin", kNew), badImage};
  lab.database = database(kTypeOneEntry + boardEntry("bad", 0x20C3, 0x1F72, 0x1028, "fw_bad.bin"));
  return lab;
}

// One adapter offered a newer image; `conf` may have the adapter raise a signal.
LabSpec oneAdapterLab(const std::string& conf = "") {
  LabSpec lab;
  LabAdapter adapter =
      offered(typeTwoLayoutAdapter("enp1s0", kOld), "fw_20c3.bin", availableStatus(kNew));
  adapter.conf = conf;
  lab.adapters = {adapter};
  lab.images = {bundleImage("fw_20c3.bin", kNew)};
  lab.database = database(kTypeOneEntry);
  return lab;
}

// Updated once, and never updated.
LabSpec rollbackLab() {
  LabSpec lab = oneAdapterLab();
  lab.adapters = {
      offered(updatedAdapter("enp1s0", kBeforeUpdate, kNew), "fw_20c3.bin", notRequiredStatus()),
      offered(typeTwoLayoutAdapter("enp2s0", kOld), "fw_20c3.bin", availableStatus(kNew))};
  return lab;
}

LabSpec noDatabaseLab() {
  LabSpec lab = oneAdapterLab();
  lab.database = "not a database";
  return lab;
}

struct ReportCase {
  const char* what;
  LabSpec (*lab)();
  RunOptions run;
  int exitStatus = 0;
  // Each adapter's result in the report; none: not attempted, or not finished.
  std::vector<std::optional<uint32_t>> results = {};
  std::vector<bool> attempted = {};  // when it differs from "has a result"
  bool interrupted = false;
  bool adaptersListed = true;  // the run got as far as its adapter list
};

void PrintTo(const ReportCase& c, std::ostream* os) {
  *os << c.what;
}

const uint32_t kCrcMismatch = statusNumber(kStatusComponentCrcMismatch);

const ReportCase kCases[] = {
    {.what = "silent: two updates (one reloaded, one asking for a power cycle), one adapter up to "
             "date, one without a board entry",
     .lab = mixedLab,
     .run = {.args = {"-s"}},
     .results = {0u, 0u, std::nullopt, std::nullopt}},
    {.what = "interactive: the operator chooses the second adapter",
     .lab = mixedLab,
     .run = {.input = "y\n2\n"},
     .results = {std::nullopt, 0u}},
    {.what = "interactive: the operator quits at the prompt",
     .lab = mixedLab,
     .run = {.input = "y\nq\n"},
     .exitStatus = 41},
    {.what = "silent: a failing adapter and a firmware that does not come back",
     .lab = failureLab,
     .run = {.args = {"-s"}},
     .exitStatus = static_cast<int>(kCrcMismatch),
     .results = {kCrcMismatch, 0u}},
    {.what = "silent: a backup that cannot be written stops the update",
     .lab = [] { return oneAdapterLab(); },
     .run = {.args = {"-s"}, .fileSizeLimit = 1 << 20},
     .exitStatus = 13,
     .results = {13u}},
    {.what = "rollback of the chosen adapter",
     .lab = rollbackLab,
     .run = {.args = {"-r"}, .input = "y\n1\nYES\n"},
     .results = {0u}},
    {.what = "rollback refused at the question",
     .lab = rollbackLab,
     .run = {.args = {"-r", "-a", "enp1s0"}, .input = "y\nn\n"},
     .exitStatus = 41,
     .results = {41u}},
    {.what = "rollback of an adapter without previous firmware",
     .lab = rollbackLab,
     .run = {.args = {"-r", "-a", "enp2s0"}, .input = "y\n"},
     .exitStatus = 2,
     .results = {std::nullopt, 2u}},
    {.what = "interrupted while the flash is written: the update is finished, then the run ends",
     .lab = [] { return oneAdapterLab("signal = term\nsignal_at_command = 1000\n"); },
     .run = {.args = {"-s"}},
     .exitStatus = 41,
     .results = {0u},
     .interrupted = true},
    {.what = "interrupted during the backup: the run ends before the flash is touched",
     .lab = [] { return oneAdapterLab("signal_at_us = 1000000\n"); },
     .run = {.args = {"-s"}},
     .exitStatus = 41,
     .results = {std::nullopt},
     .attempted = {true},
     .interrupted = true},
    {.what = "a database that cannot be read",
     .lab = noDatabaseLab,
     .run = {.args = {"-s"}},
     .exitStatus = 9,
     .adaptersListed = false},
};

std::string sha256Of(const std::vector<uint8_t>& bytes) {
  const std::optional<Sha256Digest> digest = sha256(bytes);
  return digest ? sha256Hex(*digest) : "";
}

std::optional<std::string> text(const JsonValue& value) {
  if (value.isNull()) return std::nullopt;
  return value.text();
}

// The version the flash's active block holds, as the engine reads an image.
std::optional<std::string> flashVersion(const std::vector<uint8_t>& flash) {
  FirmwareVersion version;
  if (getImageVersion(flash, version) != kStatusSuccess) return std::nullopt;
  return version.toString();
}

// The console lines of one adapter's update block, from "+ Adapter: NAME " to its "===".
std::string updateBlockOf(const std::string& console, const std::string& name) {
  const std::size_t start = console.find("+ Adapter: " + name + " \n");
  if (start == std::string::npos) return "";
  return console.substr(start, console.find("\n===\n", start) - start);
}

std::string statusWord(const StatusText& status) {
  return status.text.starts_with("Available") ? "Available" : status.text;
}

class RunReport : public ::testing::TestWithParam<ReportCase> {};

TEST_P(RunReport, IsValidAndTellsWhatTheConsoleTheBackupsAndTheFlashesShow) {
  const ReportCase& c = GetParam();
  TempDir directory;
  Lab lab(directory, c.lab());
  const ProcessResult run = lab.run(c.run);
  ASSERT_EQ(run.exitStatus, c.exitStatus) << run.out << run.err;
  const std::string logDirectory = lab.logDirectory();
  ASSERT_FALSE(logDirectory.empty());
  const std::string path = logDirectory + "report.json";

  // Whole, the tool's own, and nothing left under its temporary name.
  struct stat status {};
  ASSERT_EQ(lstat(path.c_str(), &status), 0) << "no report";
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_FALSE(std::filesystem::exists(path + ".incomplete"));

  const ProcessResult schema = runProcess(
      "/usr/bin/python3", {std::string(HLV_SOURCE_DIR) + "/tests/support/check_json_schema.py",
                           std::string(HLV_SOURCE_DIR) + "/schema/report.schema.json", path});
  EXPECT_EQ(schema.exitStatus, 0) << schema.err;

  std::string error;
  const std::optional<JsonValue> parsed = parseJson(readFile(path), error);
  ASSERT_TRUE(parsed) << error;
  const JsonValue& report = *parsed;
  EXPECT_EQ(report["exit_status"].asInt64(), c.exitStatus);
  EXPECT_EQ(report["interrupted"].boolean(), c.interrupted);
  EXPECT_EQ(report["log_directory"].text(), logDirectory);
  EXPECT_EQ(report["mode"].text(),
            c.run.args.size() > 0 && c.run.args[0] == "-r" ? "rollback" : "update");
  EXPECT_LE(report["start_time"].text(), report["end_time"].text());

  const std::vector<JsonValue>& adapters = report["adapters"].items();
  if (!c.adaptersListed) {
    EXPECT_TRUE(adapters.empty());
    return;
  }
  ASSERT_EQ(adapters.size(), lab.spec().adapters.size());
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    SCOPED_TRACE("adapter " + std::to_string(i));
    const JsonValue& a = adapters[i];
    const LabAdapter& spec = lab.spec().adapters[i];
    EXPECT_EQ(a["pci_address"].text(), lab.bdf(i));
    EXPECT_EQ(a["interface_name"].text(), lab.displayName(i));
    EXPECT_EQ(a["mac_address"].text(), lab.mac(i));
    EXPECT_EQ(a["status"].text(), statusWord(spec.status));
    EXPECT_FALSE(a["status_reason"].text().empty());
    EXPECT_EQ(text(a["running_firmware"]), spec.running.toString());
    EXPECT_EQ(text(a["previous_firmware"]),
              spec.previous.isZero() ? std::nullopt
                                     : std::optional<std::string>(spec.previous.toString()));
    if (!spec.image.empty() && !a["image"].isNull()) {
      EXPECT_EQ(a["image"]["file"].text(), spec.image);
      EXPECT_EQ(a["image"]["sha256"].text(), sha256Of(lab.imageBytes(spec.image)));
    }

    const std::optional<uint32_t> expected = i < c.results.size() ? c.results[i] : std::nullopt;
    const bool attempted = i < c.attempted.size() ? c.attempted[i] : expected.has_value();
    EXPECT_EQ(a["attempted"].boolean(), attempted);
    if (expected) {
      EXPECT_EQ(a["result"].asUint64(), *expected);
    } else {
      EXPECT_TRUE(a["result"].isNull());
    }

    // The backup the report names holds the flash as it was, byte for byte.
    const JsonValue& backup = a["backup"];
    if (!backup.isNull() && !backup["file"].isNull()) {
      const std::vector<uint8_t> saved = readBinaryFile(logDirectory + backup["file"].text());
      EXPECT_TRUE(saved == lab.flashBefore(i));
      EXPECT_EQ(backup["size"].asUint64(), saved.size());
      EXPECT_EQ(backup["sha256"].text(), sha256Of(saved));
    }

    // What the flash's active block holds now.
    EXPECT_EQ(text(a["firmware_after"]), flashVersion(lab.flashAfter(i)));

    // In update mode the adapter's block on the console says the same.
    if (report["mode"].text() != "update") continue;
    const std::string block = updateBlockOf(run.out, lab.displayName(i));
    EXPECT_EQ(!block.empty(), attempted) << run.out;
    if (block.empty()) continue;
    if (expected && *expected != 0 && a["backup"]["status"].asUint64() == 0u) {
      EXPECT_NE(block.find("[FAILED : " + std::to_string(*expected) + "]"), std::string::npos);
    }
    const bool reloaded = block.find("reload firmware... [OK]") != std::string::npos;
    const bool reloadFailed = block.find("reload firmware... [FAILED]") != std::string::npos;
    EXPECT_EQ(!a["reload"].isNull(), reloaded || reloadFailed) << block;
    if (reloaded) {
      EXPECT_EQ(a["reload"]["status"].asUint64(), 0u);
    }
    if (reloadFailed) {
      EXPECT_NE(a["reload"]["status"].asUint64(), 0u);
    }
    EXPECT_EQ(a["power_cycle_needed"].boolean(),
              block.find("please power cycle your PC") != std::string::npos)
        << block;
    if (block.find("Restarting device driver... [OK]") != std::string::npos) {
      EXPECT_EQ(a["driver_restart"]["status"].asUint64(), 0u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Runs, RunReport, ::testing::ValuesIn(kCases));

}  // namespace
}  // namespace hlv::test
