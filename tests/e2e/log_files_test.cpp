// What the tool writes as root, run whole on a lab: its log directory, its trace and its backups,
// against links planted where the next run would write, wide and narrow umasks, and full disks.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

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

const std::string kVictim = "a file root must not write\n";

// One adapter the bundle updates.
LabSpec oneAdapterLab() {
  LabSpec lab;
  LabAdapter adapter = typeTwoLayoutAdapter("enp1s0", kOld);
  adapter.image = "fw_20c3.bin";
  adapter.status = availableStatus(kNew);
  lab.adapters = {adapter};
  lab.images = {bundleImage("fw_20c3.bin", kNew)};
  lab.database = database(boardEntry("t1", 0x20C3, 0x1F70, 0x1028, "fw_20c3.bin"));
  return lab;
}

std::string silentStart(const Expect& e) {
  return kBanner + kNotice + e.table() + kSilentAll + kUpdatesStart;
}

std::string updated(const Lab& lab) {
  const Expect e(lab);
  return silentStart(e) + updateBlock(e.block(0)) + kUpdateFinished;
}

std::string backupFailed(const Lab& lab) {
  const Expect e(lab);
  UpdateBlock block = e.block(0);
  block.backupResult = 13;
  return silentStart(e) + updateBlock(block) + updateProblems(e.logDirectory());
}

mode_t modeOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

std::vector<std::string> backupsIn(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(directory, error)) {
    if (entry.path().filename().string().starts_with("image_"))
      names.push_back(entry.path().filename().string());
  }
  return names;
}

bool traceDecodes(const std::string& logDirectory) {
  const ProcessResult decoded =
      runProcess(builtProgram("hlvtrace"), {logDirectory + "voflashupdatelog.etl"});
  EXPECT_EQ(decoded.exitStatus, 0) << decoded.err;
  return decoded.exitStatus == 0;
}

// Something planted, before the run, where the directory named for the second the run starts in
// would be: `victim` is a directory elsewhere, holding the file "target".
struct Planted {
  const char* what;
  std::function<void(const std::string& runDirectory, const std::string& victim)> plant;
};

void PrintTo(const Planted& p, std::ostream* os) {
  *os << p.what;
}

void makeDirectory(const std::string& path) {
  fs::create_directories(path);
  fs::permissions(path, fs::perms::owner_all);
}

const Planted kPlanted[] = {
    {"a link in place of the run's directory, to a directory elsewhere",
     [](const std::string& run, const std::string& victim) {
       fs::create_directories(fs::path(run).parent_path());
       fs::create_directory_symlink(victim, run);
     }},
    {"a link in place of the trace, to a file elsewhere",
     [](const std::string& run, const std::string& victim) {
       makeDirectory(run);
       fs::create_symlink(victim + "/target", run + "/voflashupdatelog.etl");
     }},
    {"a link in place of the backup, to a file elsewhere",
     [](const std::string& run, const std::string& victim) {
       makeDirectory(run);
       fs::create_symlink(victim + "/target", run + "/image_enp1s0.bin");
     }},
    {"a link to nowhere in place of the trace",
     [](const std::string& run, const std::string& victim) {
       makeDirectory(run);
       fs::create_symlink(victim + "/new", run + "/voflashupdatelog.etl");
     }},
};

class PlantedLink : public ::testing::TestWithParam<Planted> {};

// The run never writes through the link: it takes a directory of its own under the next name.
TEST_P(PlantedLink, LeavesItsTargetAloneAndTheRunWritesInADirectoryOfItsOwn) {
  TempDir directory;
  const std::string victim = directory / "victim";
  writeFile(victim + "/target", kVictim);
  Lab lab(directory, oneAdapterLab());
  const Planted& planted = GetParam();
  const ProcessResult result =
      lab.run({.args = {"-s"},
               .plantRunDirectory = [&](const std::string& run) { planted.plant(run, victim); }});

  EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
  EXPECT_EQ(result.out, updated(lab));
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(readFile(victim + "/target"), kVictim);
  EXPECT_EQ(fs::directory_iterator(victim)->path().filename(), "target");
  EXPECT_EQ(std::distance(fs::directory_iterator(victim), fs::directory_iterator()), 1);

  const std::string logDirectory = lab.logDirectory();
  ASSERT_TRUE(logDirectory.ends_with("_2/")) << logDirectory;
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(logDirectory.substr(0, logDirectory.size() - 1))));
  EXPECT_TRUE(readBinaryFile(logDirectory + "image_enp1s0.bin") == lab.flashBefore(0));
  traceDecodes(logDirectory);
}

INSTANTIATE_TEST_SUITE_P(Cases, PlantedLink, ::testing::ValuesIn(kPlanted));

TEST(LogFiles, ALinkInPlaceOfTheLogsDirectoryStopsTheRunBeforeAnythingIsWritten) {
  TempDir directory;
  const std::string victim = directory / "victim";
  writeFile(victim + "/target", kVictim);
  Lab lab(directory, oneAdapterLab());
  fs::create_directory_symlink(victim, lab.root() + "/tool/logs");

  const ProcessResult result = lab.run({.args = {"-s"}});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.out,
            kBanner + kNotice + "[!] Couldn't initialize directory for log files (code: 40) \n");
  EXPECT_EQ(result.err, "[!] Log directory '" + lab.root() + "/tool/logs/' is a symbolic link \n");
  EXPECT_EQ(std::distance(fs::directory_iterator(victim), fs::directory_iterator()), 1);
  EXPECT_EQ(readFile(victim + "/target"), kVictim);
  EXPECT_TRUE(lab.flashAfter(0) == lab.flashBefore(0));
}

// A wide umask must not open the backups to everyone, nor a narrow one shut root's own files.
class Umask : public ::testing::TestWithParam<mode_t> {};

TEST_P(Umask, LeavesDirectoriesAt0700AndFilesAt0600) {
  TempDir directory;
  Lab lab(directory, oneAdapterLab());
  const ProcessResult result = lab.run({.args = {"-s"}, .umask = GetParam()});
  EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
  EXPECT_EQ(result.out, updated(lab));
  const std::string logDirectory = lab.logDirectory();
  ASSERT_FALSE(logDirectory.empty());
  EXPECT_EQ(modeOf(lab.root() + "/tool/logs"), 0700u);
  EXPECT_EQ(modeOf(logDirectory), 0700u);
  EXPECT_EQ(modeOf(logDirectory + "voflashupdatelog.etl"), 0600u);
  EXPECT_EQ(modeOf(logDirectory + "image_enp1s0.bin"), 0600u);
  EXPECT_TRUE(readBinaryFile(logDirectory + "image_enp1s0.bin") == lab.flashBefore(0));
}

INSTANTIATE_TEST_SUITE_P(Masks, Umask, ::testing::Values(0000, 0777),
                         [](const ::testing::TestParamInfo<mode_t>& info) {
                           return "Umask" + std::to_string(info.param);
                         });

// A small file system mounted for one test, when this process may mount one.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& path, const std::string& options) : path_(path) {
    fs::create_directories(path);
    mounted_ = mount("tmpfs", path.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};

// The logs on a file system of 1 MiB, half a flash: the backup fails, nothing that looks like a
// backup is left, and the flash is untouched.
TEST(FullDisk, LeavesNoBackupThatLooksWholeAndTheFlashUntouched) {
  TempDir directory;
  Lab lab(directory, oneAdapterLab());
  const SmallFileSystem logs(lab.root() + "/tool/logs", "size=1m,mode=0700");
  if (!logs.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";

  const ProcessResult result = lab.run({.args = {"-s"}});
  EXPECT_EQ(result.exitStatus, 13) << result.out << result.err;
  EXPECT_EQ(result.out, backupFailed(lab));
  const std::string logDirectory = lab.logDirectory();
  ASSERT_FALSE(logDirectory.empty());
  EXPECT_EQ(backupsIn(logDirectory), std::vector<std::string>{});
  EXPECT_TRUE(lab.flashAfter(0) == lab.flashBefore(0));
  // The space the backup took is given back, so the trace has room again; only if it happened to
  // be written out while the disk was full does standard error say it lost records.
  if (!result.err.empty()) {
    EXPECT_EQ(result.err, "/!\\ The trace could not be written to '" + logDirectory +
                              "voflashupdatelog.etl': No space left on device \n");
  } else {
    traceDecodes(logDirectory);
  }
}

// Files may not grow past 4 KiB: neither the backup nor the trace fits. Standard error says once
// that the trace could not be written; standard output is that of any failed backup.
TEST(FullDisk, ATraceThatCannotBeWrittenIsReportedOnceOnStandardError) {
  TempDir directory;
  Lab lab(directory, oneAdapterLab());
  const ProcessResult result = lab.run({.args = {"-s"}, .fileSizeLimit = 4096});
  EXPECT_EQ(result.exitStatus, 13) << result.out << result.err;
  EXPECT_EQ(result.out, backupFailed(lab));
  const std::string logDirectory = lab.logDirectory();
  ASSERT_FALSE(logDirectory.empty());
  EXPECT_EQ(result.err, "/!\\ The trace could not be written to '" + logDirectory +
                            "voflashupdatelog.etl': File too large \n");
  EXPECT_EQ(backupsIn(logDirectory), std::vector<std::string>{});
  EXPECT_TRUE(lab.flashAfter(0) == lab.flashBefore(0));
}

}  // namespace
}  // namespace hlv::test
