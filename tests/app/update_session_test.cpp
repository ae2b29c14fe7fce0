// The session's dialogue over adapter lists and procedures of the test's making.
#include "app/update_session.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/instance_lock.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/trace_capture.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
#include "tests/support/operator_texts.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using Status = AdapterStatus;

// Runs each test in a directory of its own holding the single-instance key file, so the
// session's semaphore is private to the test, on a machine whose /run is in that directory too,
// so that its machine-wide lock is.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDirectory_ = std::filesystem::current_path();
    test::writeFile(dir_ / kInstanceKeyPath, "");
    std::filesystem::create_directories(dir_ / "tool");
    std::filesystem::create_directories(dir_ / "machine");
    std::filesystem::current_path(dir_.path());
    removeSemaphore();
  }
  void TearDown() override {
    removeSemaphore();
    std::filesystem::current_path(previousDirectory_);
  }

  std::string toolDirectory() const { return dir_ / "tool/"; }
  static int semaphore() { return semget(ftok(kInstanceKeyPath, 0), 0, 0); }
  static void removeSemaphore() {
    if (semaphore() != -1) semctl(semaphore(), 0, IPC_RMID);
  }

  test::TempDir dir_;
  platform::RootedPlatform machine_{dir_ / "machine"};
  platform::ScopedPlatform installedMachine_{machine_};

 private:
  std::filesystem::path previousDirectory_;
};

struct FakeAdapter {
  const char* name;
  Status status;
};

constexpr std::size_t kPromptNotExpected = std::numeric_limits<std::size_t>::max();

struct RunCase {
  const char* what;
  bool silent = false;
  bool rollback = false;
  std::string adapterName{};
  std::vector<FakeAdapter> adapters{};
  uint32_t loadResult = 0;
  std::vector<uint32_t> procedureResults{};  // returned in turn by the update procedure
  std::size_t promptAnswer = kPromptNotExpected;
  uint32_t rollbackResult = 0;
  uint32_t expectedResult = 0;
  std::vector<uint32_t> expectedUpdated{};    // entry indices, in the order updated
  std::vector<std::string> expectedOutput{};  // texts that must appear, in this order
  std::vector<std::string> absentOutput{};
  bool expectTable = true;
};

const std::string kProblems =
    "\n!!! There were some problems updating one or more adapters. \n"
    "   Please send update logs to the vendor. \n"
    "   Logs location: '";
const std::string kFinished = test::kUpdateFinished;
const std::string kNotice = test::kUpdateNotice;

const RunCase kRunCases[] = {
    {.what = "silent mode reports the last failure although a later adapter succeeds",
     .silent = true,
     .adapters = {{"eth0", Status::Available},
                  {"eth1", Status::Available},
                  {"eth2", Status::Available}},
     .procedureResults = {0, 7, 0},
     .expectedResult = 7,
     .expectedUpdated = {0, 1, 2},
     .expectedOutput = {"Silent mode: all devices will be updated \n \n", kProblems},
     .absentOutput = {kFinished}},
    {.what = "silent mode reports the last of several failures",
     .silent = true,
     .adapters = {{"eth0", Status::Available},
                  {"eth1", Status::Available},
                  {"eth2", Status::Available}},
     .procedureResults = {16, 7, 0},
     .expectedResult = 7,
     .expectedUpdated = {0, 1, 2},
     .expectedOutput = {kProblems}},
    {.what = "silent mode succeeds when every adapter does",
     .silent = true,
     .adapters = {{"eth0", Status::Available}, {"eth1", Status::Available}},
     .procedureResults = {0, 0},
     .expectedResult = 0,
     .expectedUpdated = {0, 1},
     .expectedOutput = {kFinished},
     .absentOutput = {kProblems, kNotice}},
    {.what = "silent mode passes over adapters that are not available",
     .silent = true,
     .adapters = {{"eth0", Status::NotRequired},
                  {"eth1", Status::Available},
                  {"eth2", Status::NotAvailable},
                  {"eth3", Status::Available}},
     .procedureResults = {0, 5},
     .expectedResult = 5,
     .expectedUpdated = {1, 3},
     .expectedOutput = {kProblems}},
    {.what = "silent mode with a name updates only that adapter",
     .silent = true,
     .adapterName = "eth1",
     .adapters = {{"eth0", Status::Available},
                  {"eth1", Status::Available},
                  {"eth2", Status::Available}},
     .procedureResults = {0},
     .expectedResult = 0,
     .expectedUpdated = {1},
     .expectedOutput = {"Silent mode: selected device 'eth1' \n \n", kFinished}},
    {.what = "silent mode takes the first of two adapters with the same name",
     .silent = true,
     .adapterName = "eth1",
     .adapters = {{"eth0", Status::Available},
                  {"eth1", Status::Available},
                  {"eth1", Status::Available}},
     .procedureResults = {0},
     .expectedResult = 0,
     .expectedUpdated = {1}},
    {.what = "silent mode with an unknown name aborts; names are case-sensitive",
     .silent = true,
     .adapterName = "ETH1",
     .adapters = {{"eth0", Status::Available}, {"eth1", Status::Available}},
     .expectedResult = 3,
     .expectedOutput =
         {"Silent mode: adapter with name 'ETH1' not found \nSilent mode: update aborted \n"},
     .absentOutput = {kFinished, kProblems}},
    {.what = "no available adapter ends the run with 2",
     .adapters = {{"eth0", Status::NotRequired}, {"eth1", Status::NotAvailable}},
     .expectedResult = 2,
     .expectedOutput = {"No adapters can be updated \n"},
     .absentOutput = {kNotice}},
    {.what = "the operator's choice is the only adapter updated",
     .adapters = {{"eth0", Status::Available},
                  {"eth1", Status::Available},
                  {"eth2", Status::Available}},
     .procedureResults = {4},
     .promptAnswer = 1,
     .expectedResult = 4,
     .expectedUpdated = {1},
     .expectedOutput = {kNotice, " \n", kProblems}},
    {.what = "quitting at the prompt ends the run with 41",
     .adapters = {{"eth0", Status::Available}},
     .promptAnswer = 1,
     .expectedResult = 41,
     .expectedOutput = {kNotice},
     .absentOutput = {kFinished, kProblems}},
    {.what = "a name skips the prompt even when that adapter is not available",
     .adapterName = "eth1",
     .adapters = {{"eth0", Status::Available},
                  {"eth1", Status::NotRequired},
                  {"eth2", Status::Available}},
     .expectedResult = 0,
     .expectedOutput = {kNotice, kFinished}},
    {.what = "a failed adapter list ends the run with its result before the table",
     .adapters = {},
     .loadResult = 42,
     .expectedResult = 42,
     .expectTable = false},
    {.what = "rollback mode runs the rollback instead of the update dialogue",
     .rollback = true,
     .adapters = {{"eth0", Status::Available}},
     .rollbackResult = 6,
     .expectedResult = 6,
     .absentOutput = {kNotice, kFinished},
     .expectTable = false},
};

void PrintTo(const RunCase& c, std::ostream* out) {
  *out << c.what;
}

class SessionRun : public SessionTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(SessionRun, FollowsTheOptionsTheAdapterListAndTheProcedureResults) {
  const RunCase& c = GetParam();
  std::vector<uint32_t> updated;
  std::size_t procedureCalls = 0;
  bool tableShown = false;

  SessionSteps steps;
  steps.loadAdapters = [&](UpdateSession& session) {
    for (std::size_t i = 0; i < c.adapters.size(); ++i) {
      auto info = std::make_unique<AdapterInfo>();
      info->interfaceName = c.adapters[i].name;
      session.adapters().emplace_back(static_cast<uint32_t>(i), std::move(info));
      session.adapters().back().status = c.adapters[i].status;
    }
    return c.loadResult;
  };
  steps.showAdapterTable = [&](const std::vector<AdapterEntry>&, bool rollbackMode) {
    EXPECT_FALSE(rollbackMode);
    tableShown = true;
  };
  steps.selectAdapterForUpdate = [&](const std::vector<AdapterEntry>& entries) {
    EXPECT_NE(c.promptAnswer, kPromptNotExpected) << "the prompt was not expected";
    return c.promptAnswer == kPromptNotExpected ? entries.size() : c.promptAnswer;
  };
  steps.rollbackSelection = [&](UpdateSession&) {
    EXPECT_TRUE(c.rollback);
    return c.rollbackResult;
  };
  steps.updateAdapter = [&](const AdapterEntry& entry, const trace::LogDirectory& logDirectory,
                            AdapterOutcome&) {
    EXPECT_TRUE(logDirectory.isOpen());
    updated.push_back(entry.index);
    return procedureCalls < c.procedureResults.size() ? c.procedureResults[procedureCalls++] : 0u;
  };

  SessionOptions options{c.silent, c.rollback, c.adapterName};
  UpdateSession session(toolDirectory(), options, steps);
  ::testing::internal::CaptureStdout();
  const uint32_t result = session.run();
  std::fflush(stdout);
  const std::string output = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(result, c.expectedResult);
  EXPECT_EQ(updated, c.expectedUpdated);
  EXPECT_EQ(tableShown, c.expectTable);
  std::size_t from = 0;
  for (const std::string& text : c.expectedOutput) {
    const std::size_t at = output.find(text, from);
    EXPECT_NE(at, std::string::npos) << "missing or out of order: " << text << "\nin:\n" << output;
    if (at != std::string::npos) from = at + text.size();
  }
  for (const std::string& text : c.absentOutput)
    EXPECT_EQ(output.find(text), std::string::npos) << "unexpected: " << text;
  if (output.find(kProblems) != std::string::npos) {
    EXPECT_NE(output.find(kProblems + session.logDirectory().path() + "' \n"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionRun, ::testing::ValuesIn(kRunCases),
                         [](const ::testing::TestParamInfo<RunCase>& info) {
                           // "silent mode passes..." becomes SilentModePasses...
                           std::string name;
                           bool wordStart = true;
                           for (const char* p = info.param.what; *p != '\0'; ++p) {
                             const unsigned char c = static_cast<unsigned char>(*p);
                             if (!std::isalnum(c)) {
                               wordStart = true;
                             } else {
                               name += static_cast<char>(wordStart ? std::toupper(c) : c);
                               wordStart = false;
                             }
                           }
                           return name;
                         });

TEST_F(SessionTest, ASecondSessionIsRefusedAndLeavesTheFirstOnesSemaphore) {
  auto first = std::make_unique<UpdateSession>(toolDirectory(), SessionOptions{});
  ASSERT_TRUE(first->initialize());
  const int semaphoreOfFirst = semaphore();
  ASSERT_NE(semaphoreOfFirst, -1);

  {
    SessionSteps steps = defaultSessionSteps();
    steps.loadAdapters = [](UpdateSession&) -> uint32_t {
      ADD_FAILURE() << "a refused session must not look for adapters";
      return 0;
    };
    UpdateSession second(toolDirectory(), SessionOptions{}, steps);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(second.run(), 1u);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[!] Another instance of the tool is running. \n");
  }
  EXPECT_EQ(semaphore(), semaphoreOfFirst);

  first.reset();
  EXPECT_EQ(semaphore(), -1) << "the teardown left the semaphore behind";
}

// Runs acquireInstanceLock in a child process, which then is killed (no teardown at all) or
// ends reporting in its exit status whether it was the first instance (10) or not (11). With a
// machine root the child's /run is there: it does not share the machine-wide lock, as a copy of
// the tool that takes only the marker.
int acquireInChild(bool killed, const std::string& machineRoot = "") {
  const pid_t child = fork();
  if (child == 0) {
    platform::RootedPlatform machine(machineRoot);
    std::optional<platform::ScopedPlatform> installed;
    if (!machineRoot.empty()) {
      std::filesystem::create_directories(machineRoot);
      installed.emplace(machine);
    }
    const std::unique_ptr<InstanceLock> lock = acquireInstanceLock();
    if (killed) raise(SIGKILL);
    _exit(lock && lock->isFirst ? 10 : 11);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFSIGNALED(status) ? -WTERMSIG(status) : WEXITSTATUS(status);
}

TEST_F(SessionTest, AMarkerWhoseHolderWasKilledIsTakenOverAndALiveOneIsNot) {
  ASSERT_EQ(acquireInChild(/*killed=*/true), -SIGKILL);
  const int stale = semaphore();
  ASSERT_NE(stale, -1) << "a killed run leaves its marker";

  std::unique_ptr<InstanceLock> lock = acquireInstanceLock();
  ASSERT_TRUE(lock);
  EXPECT_TRUE(lock->isFirst);
  EXPECT_EQ(lock->semaphoreId, stale) << "the marker and its key stay as they are";
  {
    // Told once the trace is open.
    test::TraceCapture capture;
    lock->writeHistory();
    const std::vector<std::string> lines = capture.lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
      return line.find("instance_lock.kStaleMarkerTakenOver") != std::string::npos;
    })) << "the takeover is traced";
  }
  EXPECT_EQ(acquireInChild(/*killed=*/false, dir_ / "other-machine"), 11)
      << "the marker is held again: a live run";
  EXPECT_EQ(acquireInChild(/*killed=*/false), 11) << "and the machine-wide lock is held";
  EXPECT_EQ(semaphore(), stale);

  lock.reset();
  EXPECT_EQ(semaphore(), -1) << "the run that took the marker over removes it";
}

TEST_F(SessionTest, AMarkerNotYetHeldBelongsToARunThatIsStarting) {
  // Created, but its creator has not raised it yet.
  const int starting = semget(ftok(kInstanceKeyPath, 0), 1, IPC_CREAT | IPC_EXCL);
  ASSERT_NE(starting, -1);
  std::unique_ptr<InstanceLock> lock = acquireInstanceLock();
  ASSERT_TRUE(lock);
  EXPECT_FALSE(lock->isFirst);
  lock.reset();
  EXPECT_EQ(semaphore(), starting) << "another run's marker is never removed";
}

TEST_F(SessionTest, TeardownReleasesTheAdaptersBeforeTheSingleInstanceMarker) {
  // Records, when the adapter's update interface is destroyed, whether the single-instance
  // semaphore still existed.
  static bool semaphoreAtUpdaterTeardown = false;
  static int updatersDestroyed = 0;
  SessionSteps steps = defaultSessionSteps();
  steps.loadAdapters = [](UpdateSession& session) -> uint32_t {
    auto info = std::make_unique<AdapterInfo>();
    auto updater = std::make_unique<test::FakeUpdater>();
    updater->onDestroy = [] {
      semaphoreAtUpdaterTeardown = semget(ftok(kInstanceKeyPath, 0), 0, 0) != -1;
      ++updatersDestroyed;
    };
    info->updater = std::move(updater);
    session.adapters().emplace_back(0, std::move(info));
    session.adapters().back().status = AdapterStatus::NotRequired;
    return 0;
  };
  {
    UpdateSession session(toolDirectory(), SessionOptions{}, steps);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(session.run(), 2u);
    std::fflush(stdout);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(updatersDestroyed, 0);
  }
  EXPECT_EQ(updatersDestroyed, 1);
  EXPECT_TRUE(semaphoreAtUpdaterTeardown)
      << "another instance could start while this one still held an adapter";
  EXPECT_EQ(semaphore(), -1);
}

// Knows the version and type of each image file of the bundle by its name.
class ImageChecker : public test::FakeUpdater {
 public:
  uint32_t inspectImage(VoImageFile& image) override {
    if (image.fileName() == "fw_t1.bin") {
      image.setVersion({3, 1, 121});
      image.setType(1);
    } else {
      image.setVersion({4, 0, 0});
      image.setType(2);
    }
    return 0;
  }
};

TEST_F(SessionTest, ASilentRunShowsTheTableAndUpdatesEveryAvailableAdapterInTurn) {
  test::FakeSysfs sysfs(dir_ / "machine");
  platform::RootedPlatform machine(dir_ / "machine");
  platform::ScopedPlatform installed(machine);
  test::writeFile(toolDirectory() + "updatedata.xml", R"(<bdpDatabase>
  <bdp id="t1"><hwids><id vid="1E9C" did="20C3" sdid="0001" svid="1E9C"/></hwids>
    <mac>A1</mac><image>fw_t1.bin</image></bdp>
  <bdp id="t2"><hwids><id vid="1E9C" did="21C3" sdid="0001" svid="1E9C"/></hwids>
    <image>fw_t2.bin</image></bdp>
</bdpDatabase>)");
  test::writeFile(toolDirectory() + "fw_t1.bin", "type 1 image");
  test::writeFile(toolDirectory() + "fw_t2.bin", "type 2 image");
  struct Adapter {
    const char* bdf;
    const char* name;
    uint16_t deviceId;
    FirmwareVersion running;
  };
  const Adapter adapters[] = {{"0000:01:00.0", "eth0", 0x20C3, {3, 1, 57}},
                              {"0000:02:00.0", "eth1", 0x20C3, {3, 1, 121}},
                              {"0000:03:00.0", "eth2", 0x21C3, {3, 9, 0}}};
  for (const Adapter& adapter : adapters) {
    test::FakePciFunction function;
    function.bdf = adapter.bdf;
    function.interfaceName = adapter.name;
    function.deviceId = adapter.deviceId;
    sysfs.addFunction(function);
  }
  const std::vector<uint8_t> flash(0x800, 0x5A);
  std::vector<test::FakeUpdater*> updaters;

  SessionSteps steps = defaultSessionSteps();
  steps.openUpdater = [&](AdapterInfo& info) {
    auto updater = std::make_unique<test::FakeUpdater>();
    for (const Adapter& adapter : adapters) {
      if (info.bdf == adapter.bdf) updater->currentVersion = adapter.running;
    }
    updater->adapterType = info.deviceId == 0x21C3 ? 2 : 1;
    updater->flash = flash;
    updaters.push_back(updater.get());
    info.updater = std::move(updater);
    return true;
  };
  steps.makeImageChecker = [] { return std::make_unique<ImageChecker>(); };

  UpdateSession session(toolDirectory(), SessionOptions{true, false, ""}, steps);
  ::testing::internal::CaptureStdout();
  const uint32_t result = session.run();
  std::fflush(stdout);
  const std::string output = ::testing::internal::GetCapturedStdout();

  EXPECT_EQ(result, 0u);
  const std::string mac = "02:00:00:aa:bb:cc";
  const std::vector<test::TableRow> table = {
      {"eth0", {3, 1, 57}, test::availableStatus({3, 1, 121}), 0x20C3, 0x0001, 0x1E9C, mac},
      {"eth1", {3, 1, 121}, test::notRequiredStatus(), 0x20C3, 0x0001, 0x1E9C, mac},
      {"eth2", {3, 9, 0}, test::availableStatus({4, 0, 0}), 0x21C3, 0x0001, 0x1E9C, mac},
  };
  const test::UpdateBlock eth0{.name = "eth0",
                               .deviceId = 0x20C3,
                               .subsystemDeviceId = 0x0001,
                               .subsystemVendorId = 0x1E9C,
                               .newVersion = {3, 1, 121},
                               .reload = test::UpdateBlock::Reload::kSucceeded};
  const test::UpdateBlock eth2{.name = "eth2",
                               .deviceId = 0x21C3,
                               .subsystemDeviceId = 0x0001,
                               .subsystemVendorId = 0x1E9C,
                               .newVersion = {4, 0, 0}};
  EXPECT_EQ(output, test::adapterTable(table, false) + test::kSilentAll + test::kUpdatesStart +
                        test::updateBlock(eth0) + test::updateBlock(eth2) +
                        test::kUpdateFinished);

  ASSERT_EQ(updaters.size(), 3u);
  EXPECT_EQ(updaters[0]->calls.update, 1);
  EXPECT_EQ(updaters[1]->calls.update, 0);
  EXPECT_EQ(updaters[2]->calls.update, 1);
  EXPECT_EQ(updaters[0]->lastMacData, "\xA1");
  const std::string logDirectory = session.logDirectory().path();
  EXPECT_EQ(test::readBinaryFile(logDirectory + "image_eth0.bin"), flash);
  EXPECT_EQ(test::readBinaryFile(logDirectory + "image_eth2.bin"), flash);
  EXPECT_FALSE(test::fileExists(logDirectory + "image_eth1.bin"));
  EXPECT_EQ(sysfs.driverFile("halvern", "bind"), "0000:03:00.0");
}

struct LogDirectoryCase {
  const char* what;
  // Prepares the test directory; gives the tool directory the session is made with.
  std::function<std::string(const test::TempDir& dir)> toolDirectory;
  unsigned code;       // in the console's message
  std::string path;    // the one standard error names, under the test directory
  std::string reason;  // what standard error says of it
};

void PrintTo(const LogDirectoryCase& c, std::ostream* out) {
  *out << c.what;
}

const LogDirectoryCase kLogDirectoryCases[] = {
    {"a tool directory below a regular file can never hold one",
     [](const test::TempDir& dir) {
       test::writeFile(dir / "file", "");
       return dir / "file/";
     },
     20, "file/", "is not a directory"},  // ENOTDIR
    {"a link in place of logs is not followed",
     [](const test::TempDir& dir) {
       std::filesystem::create_directories(dir / "elsewhere");
       std::filesystem::create_directory_symlink(dir / "elsewhere", dir / "tool/logs");
       return dir / "tool/";
     },
     40, "tool/logs/", "is a symbolic link"},  // ELOOP
    {"logs that anyone may write into is not used",
     [](const test::TempDir& dir) {
       std::filesystem::create_directories(dir / "tool/logs");
       std::filesystem::permissions(dir / "tool/logs", std::filesystem::perms::all);
       return dir / "tool/";
     },
     1, "tool/logs/", "is writable by group or others (mode 0777)"},  // EPERM
};

class SessionLogDirectory : public SessionTest,
                            public ::testing::WithParamInterface<LogDirectoryCase> {};

TEST_P(SessionLogDirectory, ThatCannotBeUsedEndsTheRunWith1AndSaysWhichPathAndWhy) {
  const LogDirectoryCase& c = GetParam();
  const std::string tool = c.toolDirectory(dir_);
  {
    UpdateSession session(tool, SessionOptions{});
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(session.run(), 1u);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "[!] Log directory '" + (dir_ / c.path) + "' " + c.reason + " \n");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[!] Couldn't initialize directory for log files (code: " + std::to_string(c.code) +
                  ") \n");
  }
  EXPECT_EQ(semaphore(), -1) << "the teardown left the semaphore behind";
  if (test::fileExists(dir_ / "elsewhere")) {
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "elsewhere"));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionLogDirectory, ::testing::ValuesIn(kLogDirectoryCases));

}  // namespace
}  // namespace hlv
