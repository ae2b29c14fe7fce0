// One run of the tool per machine, on labs (each lab is a machine, with its own /run/lock): a
// second run started from another directory, and what a local user may leave in the way (a file
// under the lock's name, a single-instance marker of their making).
#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

#include "tests/support/expected_output.h"
#include "tests/e2e/lab_scenario.h"
#include "tests/support/operator_texts.h"
#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv::test {
namespace {

namespace fs = std::filesystem;

constexpr FirmwareVersion kOld{1, 5, 90};
constexpr FirmwareVersion kNew{1, 6, 2};
constexpr const char* kInstanceKeyFile = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";
constexpr uid_t kOtherUser = 12345;
constexpr unsigned kPatience = 60;  // seconds; generous for the sanitizer build

LabSpec oneAdapterLab() {
  LabSpec lab;
  LabAdapter adapter = typeTwoLayoutAdapter("enp1s0", kOld);
  adapter.image = "fw.bin";
  adapter.status = availableStatus(kNew);
  lab.adapters = {adapter};
  lab.images = {bundleImage("fw.bin", kNew)};
  lab.database = database(boardEntry("board", 0x20C3, 0x1F70, 0x1028, "fw.bin"));
  return lab;
}

// A working directory with a key file of its own: its runs derive another marker key than the
// lab's own runs do (and none takes the key every run without such a file shares).
std::string workDirectory(const TempDir& directory, const std::string& name) {
  const std::string path = directory / name;
  writeFile(path + "/" + kInstanceKeyFile, "");
  return path;
}

std::string decodedTrace(const Lab& lab) {
  const ProcessResult decoded =
      runProcess(builtProgram("hlvtrace"), {lab.logDirectory() + "voflashupdatelog.etl"});
  EXPECT_EQ(decoded.exitStatus, 0) << decoded.err;
  return decoded.out;
}

TEST(SingleInstance, ASecondRunFromAnotherDirectoryIsRefusedWhileTheFirstWaitsAtItsPrompt) {
  if (geteuid() != 0) GTEST_SKIP() << "the tool goes past its privilege check only as root";
  TempDir directory;
  Lab lab(directory, oneAdapterLab());
  BackgroundRun first(builtProgram("hlvsim"), {"run", lab.root()}, "y\n",
                      workDirectory(directory, "first"), /*keepInputOpen=*/true);
  ASSERT_TRUE(waitUntil(
      [&] { return first.output().find(updateNumberPrompt()) != std::string::npos; }, kPatience))
      << first.output() << first.errors();

  const ProcessResult second =
      lab.run({.args = {"-s"}, .workDir = workDirectory(directory, "second")});
  EXPECT_EQ(second.out, kBanner + kNotice + kAnotherInstance);
  EXPECT_EQ(second.exitStatus, 1);
  EXPECT_TRUE(lab.flashAfter(0) == lab.flashBefore(0));

  // A termination request at the prompt ends the first run like Ctrl-C.
  ASSERT_TRUE(first.running());
  kill(first.pid(), SIGTERM);
  ASSERT_TRUE(first.wait(kPatience));
  EXPECT_EQ(first.exitStatus(), 41) << "signal " << first.signal();
}

struct ForeignLockCase {
  const char* what;
  std::function<void(const std::string& lockFile, const std::string& target)> plant;
  const char* told;
};

void PrintTo(const ForeignLockCase& c, std::ostream* os) {
  *os << c.what;
}

const ForeignLockCase kForeignLocks[] = {
    {"AnotherOwner",
     [](const std::string& lockFile, const std::string&) {
       writeFile(lockFile, "");
       chmod(lockFile.c_str(), 0600);
       ASSERT_EQ(chown(lockFile.c_str(), kOtherUser, kOtherUser), 0);
     },
     "owned by user 12345"},
    {"WrongMode",
     [](const std::string& lockFile, const std::string&) {
       writeFile(lockFile, "");
       chmod(lockFile.c_str(), 0666);
     },
     "of mode 0666"},
    {"SymbolicLink",
     [](const std::string& lockFile, const std::string& target) {
       fs::create_directories(fs::path(lockFile).parent_path());
       fs::create_symlink(target, lockFile);
     },
     "a symbolic link"},
};

class ForeignLockInALab : public ::testing::TestWithParam<ForeignLockCase> {};

TEST_P(ForeignLockInALab, DoesNotKeepTheRunOutAndIsReplaced) {
  const ForeignLockCase& c = GetParam();
  if (geteuid() != 0) GTEST_SKIP() << "the tool goes past its privilege check only as root";
  TempDir directory;
  Lab lab(directory, oneAdapterLab());
  const std::string lockFile = lab.root() + "/run/lock/hlvflashupdate.lock";
  const std::string target = directory / "target";
  writeFile(target, "someone's file\n");
  c.plant(lockFile, target);

  const ProcessResult result = lab.run({.args = {"-s", "-a", "nosuch"}});
  EXPECT_EQ(result.exitStatus, 3) << result.out;
  EXPECT_EQ(result.err,
            "/!\\ " + lockFile + " was not this tool's lock (" + c.told + "): removed \n");
  struct stat found {};
  ASSERT_EQ(lstat(lockFile.c_str(), &found), 0);
  EXPECT_TRUE(S_ISREG(found.st_mode));
  EXPECT_EQ(found.st_uid, 0u);
  EXPECT_EQ(found.st_mode & 07777, 0600u);
  EXPECT_EQ(readFile(target), "someone's file\n");
  EXPECT_NE(decodedTrace(lab).find("instance_lock.kForeignLockRemoved"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Plants, ForeignLockInALab, ::testing::ValuesIn(kForeignLocks),
                         [](const auto& info) { return std::string(info.param.what); });

struct ForeignMarkerCase {
  const char* what;
  uid_t owner;
  mode_t mode;
  const char* told;
};

void PrintTo(const ForeignMarkerCase& c, std::ostream* os) {
  *os << c.what;
}

class ForeignMarkerInALab : public ::testing::TestWithParam<ForeignMarkerCase> {};

// Such a marker used to keep every root run out until someone removed it by hand.
TEST_P(ForeignMarkerInALab, DoesNotKeepTheRunOut) {
  const ForeignMarkerCase& c = GetParam();
  if (geteuid() != 0) GTEST_SKIP() << "the tool goes past its privilege check only as root";
  TempDir directory;
  Lab lab(directory, oneAdapterLab());
  // The key the lab's runs derive from the key file in their working directory.
  const std::string keyFile = directory / ("work/" + std::string(kInstanceKeyFile));
  writeFile(keyFile, "");
  const int foreign = semget(ftok(keyFile.c_str(), 0), 1, IPC_CREAT | IPC_EXCL | 0600);
  ASSERT_NE(foreign, -1);
  semid_ds state{};
  union {
    int value;
    semid_ds* buffer;
  } argument{};
  argument.buffer = &state;
  ASSERT_EQ(semctl(foreign, 0, IPC_STAT, argument), 0);
  state.sem_perm.uid = c.owner;
  state.sem_perm.mode = c.mode;
  ASSERT_EQ(semctl(foreign, 0, IPC_SET, argument), 0);

  const ProcessResult result =
      lab.run({.args = {"-s", "-a", "nosuch"}, .keepInstanceMarker = true});
  EXPECT_EQ(result.exitStatus, 3) << result.out;
  EXPECT_EQ(result.err, "/!\\ The single-instance marker (semaphore " + std::to_string(foreign) +
                            ", " + c.told + ") was not made by this tool: removed \n");
  EXPECT_FALSE(lab.instanceMarker().exists) << "the run removes the marker it made at its end";
  EXPECT_NE(decodedTrace(lab).find("instance_lock.kForeignMarkerRemoved"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Plants, ForeignMarkerInALab,
                         ::testing::Values(ForeignMarkerCase{"ReadableAndWritableByItsOwner", 0,
                                                             0600, "owner 0, creator 0, mode 0600"},
                                           ForeignMarkerCase{"GivenToAnotherUser", kOtherUser, 0,
                                                             "owner 12345, creator 0, mode 0000"}),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace hlv::test
