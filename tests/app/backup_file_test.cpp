// The backup file of an adapter's whole flash: its exact bytes, its refusals, and a kill during
// the write leaving nothing named like a backup.
#include "app/backup_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "device/pci_discovery.h"
#include "tests/support/fake_updater.h"
#include "tests/support/file_size_limit.h"
#include "tests/support/files.h"
#include "tests/support/scoped_umask.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::FakeUpdater;

std::vector<uint8_t> flashOf(std::size_t size) {
  std::vector<uint8_t> flash(size);
  for (std::size_t i = 0; i < size; ++i)
    flash[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  return flash;
}

struct BackupCase {
  const char* what;
  std::string name = "eth0";
  const char* suffix = nullptr;
  std::size_t flashSize = 0x1000;
  std::function<void(FakeUpdater&)> adapter = [](FakeUpdater&) {};
  bool hasUpdater = true;
  // Files in the run's directory before the backup; each must be left as it was.
  std::vector<std::string> existing = {};
  // A link in the run's directory (name, target file under the test directory): the target must
  // be left as it was.
  std::optional<std::pair<std::string, std::string>> link = {};
  // The run's directory is removed under the run before the backup.
  bool runDirectoryGone = false;
  // A limit on the size of files the process writes, as a full disk would set it.
  std::optional<rlim_t> fileSizeLimit = {};
  // The umask while the backup is written.
  mode_t umask = 022;
  uint32_t result = 0;
  std::string file = "image_eth0.bin";
  // Holds exactly the flash afterwards, with mode 0600. When not, no file of the adapter is left
  // at all: a backup that failed leaves nothing that looks like one.
  bool fileWritten = true;
};

void PrintTo(const BackupCase& c, std::ostream* os) {
  *os << c.what;
}

const std::string kEarlierBackup(0x3000, 'x');

const BackupCase kBackupCases[] = {
    {.what = "the whole flash is saved under the adapter's name"},
    {.what = "blanks in the name become underscores",
     .name = "My NIC 2",
     .file = "image_My_NIC_2.bin"},
    {.what = "the suffix comes before the extension",
     .suffix = "_rollback",
     .file = "image_eth0_rollback.bin"},
    {.what = "an existing file is kept and the backup takes the next free name",
     .existing = {"image_eth0.bin"},
     .file = "image_eth0_2.bin"},
    {.what = "numbered names that are taken are passed over",
     .existing = {"image_eth0.bin", "image_eth0_2.bin", "image_eth0_4.bin"},
     .file = "image_eth0_3.bin"},
    {.what = "a rollback backup beside an earlier one is numbered after its suffix",
     .suffix = "_rollback",
     .existing = {"image_eth0_rollback.bin", "image_eth0.bin"},
     .file = "image_eth0_rollback_2.bin"},
    {.what = "adapters without an interface share a name but not a file",
     .name = "unknown",
     .existing = {"image_unknown.bin"},
     .file = "image_unknown_2.bin"},
    {.what = "a link at the name is not followed",
     .link = std::make_pair("image_eth0.bin", "elsewhere.bin"),
     .file = "image_eth0_2.bin"},
    {.what = "a backup is written under a name that says it is incomplete: one left by a run "
             "cut short is kept, and the backup still takes the adapter's name",
     .existing = {"image_eth0.bin.incomplete"},
     .file = "image_eth0.bin"},
    {.what = "a link at the incomplete name is not followed",
     .link = std::make_pair("image_eth0.bin.incomplete", "elsewhere.bin"),
     .file = "image_eth0.bin"},
    {.what = "a read that reports more than it announced writes the announced size",
     .adapter = [](FakeUpdater& u) { u.lengthAfterRead = 0x1005; }},
    {.what = "no update interface",
     .hasUpdater = false,
     .result = kBackupNoUpdateInterface,
     .fileWritten = false},
    {.what = "an update interface that is not ready",
     .adapter = [](FakeUpdater& u) { u.ready = false; },
     .result = kBackupNoUpdateInterface,
     .fileWritten = false},
    {.what = "a flash of 0 bytes gives no backup",
     .flashSize = 0,
     .result = kBackupNoUpdateInterface,
     .fileWritten = false},
    {.what = "a size query that fails",
     .flashSize = 0,
     .adapter = [](FakeUpdater& u) { u.readResult = 21; },
     .result = kBackupNoUpdateInterface,
     .fileWritten = false},
    {.what = "a flash read that fails",
     .adapter = [](FakeUpdater& u) { u.readResult = 15; },
     .result = kBackupNoUpdateInterface,
     .fileWritten = false},
    {.what = "a read that reports less than it announced",
     .adapter = [](FakeUpdater& u) { u.lengthAfterRead = 0xFFF; },
     .result = kBackupReadShort,
     .fileWritten = false},
    {.what = "a run directory removed under the run",
     .runDirectoryGone = true,
     .result = kBackupFileNotOpened,
     .fileWritten = false},
    {.what = "a umask that lets everyone in still gives a file only root reads", .umask = 0},
    {.what = "a umask that shuts everyone out still gives a file root reads", .umask = 0777},
    {.what = "a full disk that takes part of the flash",
     .flashSize = 16,
     .fileSizeLimit = 8,
     .result = kBackupWriteFailed,
     .fileWritten = false},
    {.what = "a full disk noticed while writing leaves no part of the file behind",
     .flashSize = 0x200000,
     .fileSizeLimit = 0x1000,
     .result = kBackupWriteFailed,
     .fileWritten = false},
    {.what = "a full disk removes only the failed backup, not an earlier one of the name",
     .existing = {"image_eth0.bin"},
     .fileSizeLimit = 0x800,
     .result = kBackupWriteFailed,
     .file = "image_eth0_2.bin",
     .fileWritten = false},
};

// The adapter's backups in the run's directory, by name.
std::set<std::string> backupsIn(const std::string& directory) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error))
    names.insert(entry.path().filename().string());
  return names;
}

class Backup : public ::testing::TestWithParam<BackupCase> {};

TEST_P(Backup, SavesExactlyTheFlashOrReportsWhyNot) {
  const BackupCase& c = GetParam();
  test::TempDir dir;
  platform::FileProblem problem;
  const trace::LogDirectory logs = trace::makeLogDirectory(dir.path() + "/", "run", problem);
  ASSERT_TRUE(logs.isOpen()) << problem.reason;
  const std::string directory = logs.path();
  std::set<std::string> before;
  for (const std::string& name : c.existing) {
    test::writeFile(directory + name, kEarlierBackup);
    before.insert(name);
  }
  if (c.link) {
    test::writeFile(dir / c.link->second, kEarlierBackup);
    std::filesystem::create_symlink(dir / c.link->second, directory + c.link->first);
    before.insert(c.link->first);
  }
  if (c.runDirectoryGone) std::filesystem::remove(directory);

  auto info = std::make_unique<AdapterInfo>();
  info->interfaceName = c.name;
  const std::vector<uint8_t> flash = flashOf(c.flashSize);
  if (c.hasUpdater) {
    auto updater = std::make_unique<FakeUpdater>();
    updater->flash = flash;
    c.adapter(*updater);
    info->updater = std::move(updater);
  }
  const AdapterEntry entry(3, std::move(info));

  {
    const test::ScopedUmask mask(c.umask);
    const test::FileSizeLimit limit(c.fileSizeLimit);
    EXPECT_EQ(backupAdapterImage(entry, logs, c.suffix), c.result);
  }
  const std::string path = directory + c.file;
  std::set<std::string> after = before;
  if (c.fileWritten) {
    EXPECT_EQ(test::readBinaryFile(path), flash);
    struct stat status {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    after.insert(c.file);
  }
  EXPECT_EQ(backupsIn(directory), c.runDirectoryGone ? std::set<std::string>{} : after)
      << "a backup that failed left a file behind";
  for (const std::string& name : c.existing)
    EXPECT_EQ(test::readFile(directory + name), kEarlierBackup) << name << " was changed";
  if (c.link) {
    EXPECT_EQ(test::readFile(dir / c.link->second), kEarlierBackup);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Backup, ::testing::ValuesIn(kBackupCases));

// A run killed while it writes a backup (here by the file size limit's own signal, in the middle
// of the write) leaves the part it wrote only under a name that says it is incomplete.
TEST(BackupDeathTest, AKillDuringTheWriteLeavesNoFileNamedLikeABackup) {
  test::TempDir dir;
  platform::FileProblem problem;
  const trace::LogDirectory logs = trace::makeLogDirectory(dir.path() + "/", "run", problem);
  ASSERT_TRUE(logs.isOpen()) << problem.reason;
  auto info = std::make_unique<AdapterInfo>();
  info->interfaceName = "eth0";
  auto updater = std::make_unique<FakeUpdater>();
  updater->flash = flashOf(0x200000);
  info->updater = std::move(updater);
  const AdapterEntry entry(3, std::move(info));
  const auto backUpUnderALimit = [&] {
    rlimit limit{};
    limit.rlim_cur = limit.rlim_max = 0x10000;
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_DFL);
    backupAdapterImage(entry, logs, nullptr);
    std::exit(0);
  };
  EXPECT_EXIT(backUpUnderALimit(), ::testing::KilledBySignal(SIGXFSZ), "");
  EXPECT_EQ(backupsIn(logs.path()), std::set<std::string>{"image_eth0.bin.incomplete"});
}

}  // namespace
}  // namespace hlv
