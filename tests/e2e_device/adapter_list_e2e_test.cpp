// The tool's adapter list on machines described by a directory: the database beside the tool,
// the adapters in a fake sysfs.
#include <sys/ipc.h>
#include <sys/sem.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/fake_sysfs.h"
#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::FakePciFunction;
using test::FakeSysfs;

// The single-instance key is derived from a file of this name in the working directory.
constexpr const char* kInstanceKeyFile = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";

const std::string kNoDatabase = "[!] Couldn't load data from XML file. Check update files. \n";
const std::string kNoAdapter = "No Tessarin network adapter found \n";
const std::string kNothingToUpdate = "No adapters can be updated \n";

const std::string kDatabase = R"(<?xml version="1.0"?>
<bdpDatabase>
  <version>2026.1</version>
  <bdp id="b1">
    <hwids><id vid="1E9C" did="20C3" sdid="0001" svid="1E9C"/></hwids>
    <mac>A1B2C3</mac>
    <image>fw_20c3.bin</image>
  </bdp>
  <alias id="a1"><systemid>Board A</systemid><bdpid>b1</bdpid></alias>
</bdpDatabase>
)";

// One machine: ROOT/sys (fake sysfs), ROOT/tool/ (the tool's directory), ROOT/work (where the
// tool runs, with its own single-instance key).
class RootedMachine : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_ / "tool");
    test::writeFile(workDirectory() + "/" + kInstanceKeyFile, "");
    removeStaleSemaphore();
  }
  void TearDown() override { removeStaleSemaphore(); }

  std::string workDirectory() const { return root_ / "work"; }
  std::string toolFile(const std::string& name) const { return root_ / ("tool/" + name); }

  test::ProcessResult run(const std::vector<std::string>& toolArguments) const {
    std::vector<std::string> args{root_.path(), "--"};
    args.insert(args.end(), toolArguments.begin(), toolArguments.end());
    test::ProcessOptions options;
    options.workDir = workDirectory();
    return test::runProcess(test::builtProgram("hlvtool_rooted"), args, options);
  }

  // The trace files the runs left under the tool's "logs/".
  std::vector<std::string> traceFiles() const {
    std::vector<std::string> files;
    const std::string logs = toolFile("logs");
    if (!std::filesystem::is_directory(logs)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(logs)) {
      const std::string file = entry.path().string() + "/voflashupdatelog.etl";
      if (test::fileExists(file)) files.push_back(file);
    }
    return files;
  }

  test::TempDir root_;
  FakeSysfs sysfs_{root_.path()};

 private:
  void removeStaleSemaphore() const {
    const std::string keyFile = workDirectory() + "/" + kInstanceKeyFile;
    const int id = semget(ftok(keyFile.c_str(), 0), 0, 0);
    if (id != -1) semctl(id, 0, IPC_RMID);
  }
};

FakePciFunction otherVendorsFunction() {
  FakePciFunction f;
  f.bdf = "0000:02:00.0";
  f.vendorId = 0x8086;
  f.driver = "other";
  return f;
}

struct ListCase {
  const char* name;
  std::optional<std::string> database;  // none: no "updatedata.xml"
  bool adapterPresent;
  int status;
  std::string lastLine;
};

void PrintTo(const ListCase& c, std::ostream* os) {
  *os << c.name;
}

class AdapterListRun : public RootedMachine, public ::testing::WithParamInterface<ListCase> {};

TEST_P(AdapterListRun, EndsWithTheListsOutcome) {
  const ListCase& c = GetParam();
  sysfs_.addFunction(otherVendorsFunction());
  if (c.adapterPresent) sysfs_.addFunction(FakePciFunction{});
  if (c.database) test::writeFile(toolFile("updatedata.xml"), *c.database);

  const test::ProcessResult result = run({"-s"});

  EXPECT_EQ(result.exitStatus, c.status) << result.out << result.err;
  ASSERT_GE(result.out.size(), c.lastLine.size()) << result.out;
  EXPECT_EQ(result.out.substr(result.out.size() - c.lastLine.size()), c.lastLine) << result.out;
  if (c.status != 42) {
    EXPECT_EQ(result.out.find(kNoAdapter), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Databases, AdapterListRun,
    ::testing::Values(ListCase{"MissingDatabase", std::nullopt, true, 9, kNoDatabase},
                      ListCase{"EmptyDatabase", "", true, 9, kNoDatabase},
                      ListCase{"NotWellFormedDatabase",
                               "<bdpDatabase><bdp id=\"b1\"></bdpDatabase>", true, 9, kNoDatabase},
                      ListCase{"MalformedEntry",
                               "<bdpDatabase><bdp><mac>A1B</mac></bdp></bdpDatabase>", true, 9,
                               kNoDatabase},
                      ListCase{"NoAdapterOfTheMaker", kDatabase, false, 42, kNoAdapter},
                      // Found, but not examinable yet: listed as not available, never updated.
                      ListCase{"AdapterFound", kDatabase, true, 2, kNothingToUpdate}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return info.param.name; });

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    result.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return result;
}

bool contains(const std::vector<std::string>& all, const std::string& line) {
  return std::find(all.begin(), all.end(), line) != all.end();
}

TEST_F(RootedMachine, TraceOfTheRunDescribesTheDatabaseAndTheAdaptersFound) {
  sysfs_.addFunction(otherVendorsFunction());
  sysfs_.addFunction(FakePciFunction{});
  test::writeFile(toolFile("updatedata.xml"), kDatabase);

  const test::ProcessResult result = run({"-s"});
  ASSERT_EQ(result.exitStatus, 2) << result.out << result.err;

  const std::vector<std::string> files = traceFiles();
  ASSERT_EQ(files.size(), 1u);
  const test::ProcessResult decoded = test::runProcess(test::builtProgram("hlvtrace"), {files[0]});
  ASSERT_EQ(decoded.exitStatus, 0) << decoded.err;
  const std::vector<std::string> records = lines(decoded.out);

  for (const char* expected : {
           R"(9248:9:6 update_database.kVersion: database version "2026.1")",
           R"(9248:1:0 database_entry.kBdpId: board entry "b1")",
           "9248:1:1 database_entry.kBdpHwId: board entry hwid 1: vid 0x1E9C did 0x20C3 sdid 0x1 "
           "svid 0x1E9C",
           R"(9248:1:2 database_entry.kBdpMac: board entry mac "a1b2c3")",
           R"(9248:1:4 database_entry.kBdpImage: board entry image "fw_20c3.bin")",
           R"(9248:1:7 database_entry.kAliasSystemId: alias system id 1: "baseboard" "Board A")",
           R"(9248:1:8 database_entry.kAliasBdpId: alias selects board entry "b1")",
           "9248:9:9 update_database.kLoaded: database loaded: 1 board entries, 1 aliases",
           R"(9248:8:24 pci_discovery.kAdapterFound: adapter "0000:03:00.0" interface "eth0" )"
           R"(mac "02:00:00:aa:bb:cc" driver "2.4.1\n")",
           "9248:8:25 pci_discovery.kDiscoveryDone: 1 adapters of 2 PCI functions",
       }) {
    EXPECT_TRUE(contains(records, expected)) << expected << "\nin:\n" << decoded.out;
  }
}

}  // namespace
}  // namespace hlv
