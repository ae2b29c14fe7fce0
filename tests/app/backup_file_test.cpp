#include "app/backup_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "device/pci_discovery.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
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
  // Prepares the log directory; gets its path and the backup's file name.
  // Files in the log directory before the backup; each must be left as it was.
  std::vector<std::string> existing = {};
  // A link in the log directory (name, target file under the test directory): the target must be
  // left as it was.
  std::optional<std::pair<std::string, std::string>> link = {};
  std::string directory = "";  // under the test directory; empty: the test directory itself
  // A limit on the size of files the process writes, as a full disk would set it.
  std::optional<rlim_t> fileSizeLimit = {};
  uint32_t result = 0;
  std::string file = "image_eth0.bin";
  // Holds exactly the flash afterwards; when not, a failed write may have left less than the
  // flash, and any earlier failure leaves no file at all.
  bool fileWritten = true;
};

void PrintTo(const BackupCase& c, std::ostream* os) {
  *os << c.what;
}

// Files grow no further than the limit while it is set; a write past it fails (EFBIG) instead of
// ending the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::optional<rlim_t> limit) : active_(limit.has_value()) {
    if (!active_) return;
    previousSignal_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit reduced = previous_;
    reduced.rlim_cur = *limit;
    setrlimit(RLIMIT_FSIZE, &reduced);
  }
  ~FileSizeLimit() {
    if (!active_) return;
    setrlimit(RLIMIT_FSIZE, &previous_);
    signal(SIGXFSZ, previousSignal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  bool active_;
  rlimit previous_{};
  sighandler_t previousSignal_ = SIG_DFL;
};

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
    {.what = "a directory that does not exist",
     .directory = "gone/",
     .result = kBackupFileNotOpened,
     .fileWritten = false},
    {.what = "a full disk noticed only when the buffered data is flushed",
     .flashSize = 16,
     .fileSizeLimit = 8,
     .result = kBackupWriteFailed,
     .fileWritten = false},
    {.what = "a full disk noticed while writing",
     .flashSize = 0x200000,
     .fileSizeLimit = 0x1000,
     .result = kBackupWriteFailed,
     .fileWritten = false},
};

class Backup : public ::testing::TestWithParam<BackupCase> {};

TEST_P(Backup, SavesExactlyTheFlashOrReportsWhyNot) {
  const BackupCase& c = GetParam();
  test::TempDir dir;
  const std::string directory = dir.path() + "/" + c.directory;
  for (const std::string& name : c.existing)
    test::writeFile(directory + name, kEarlierBackup);
  if (c.link) {
    test::writeFile(dir / c.link->second, kEarlierBackup);
    std::filesystem::create_symlink(dir / c.link->second, directory + c.link->first);
  }

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
    const FileSizeLimit limit(c.fileSizeLimit);
    EXPECT_EQ(backupAdapterImage(entry, directory, c.suffix), c.result);
  }
  const std::string path = directory + c.file;
  if (c.fileWritten) {
    EXPECT_EQ(test::readBinaryFile(path), flash);
  } else if (c.fileSizeLimit) {
    EXPECT_LT(test::readBinaryFile(path).size(), flash.size());
  } else {
    EXPECT_FALSE(test::fileExists(path)) << "a backup that failed before writing left a file";
  }
  for (const std::string& name : c.existing)
    EXPECT_EQ(test::readFile(directory + name), kEarlierBackup) << name << " was changed";
  if (c.link) {
    EXPECT_EQ(test::readFile(dir / c.link->second), kEarlierBackup);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Backup, ::testing::ValuesIn(kBackupCases));

}  // namespace
}  // namespace hlv
