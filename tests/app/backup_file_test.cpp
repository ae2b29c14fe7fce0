#include "app/backup_file.h"

#include <gtest/gtest.h>

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
  std::function<void(const std::string& directory, const std::string& file)> prepare =
      [](const std::string&, const std::string&) {};
  std::string directory = "";  // under the test directory; empty: the test directory itself
  uint32_t result = 0;
  std::string file = "image_eth0.bin";
  bool fileWritten = true;  // holds exactly the flash afterwards
};

void PrintTo(const BackupCase& c, std::ostream* os) {
  *os << c.what;
}

void linkToFullDevice(const std::string& directory, const std::string& file) {
  std::filesystem::create_symlink("/dev/full", directory + file);
}

const BackupCase kBackupCases[] = {
    {.what = "the whole flash is saved under the adapter's name"},
    {.what = "blanks in the name become underscores",
     .name = "My NIC 2",
     .file = "image_My_NIC_2.bin"},
    {.what = "the suffix comes before the extension",
     .suffix = "_rollback",
     .file = "image_eth0_rollback.bin"},
    {.what = "an existing longer file is overwritten",
     .prepare = [](const std::string& d,
                   const std::string& f) { test::writeFile(d + f, std::string(0x3000, 'x')); }},
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
     .prepare = linkToFullDevice,
     .result = kBackupWriteFailed,
     .fileWritten = false},
    {.what = "a full disk noticed while writing",
     .flashSize = 0x200000,
     .prepare = linkToFullDevice,
     .result = kBackupWriteFailed,
     .fileWritten = false},
};

class Backup : public ::testing::TestWithParam<BackupCase> {};

TEST_P(Backup, SavesExactlyTheFlashOrReportsWhyNot) {
  const BackupCase& c = GetParam();
  test::TempDir dir;
  const std::string directory = dir.path() + "/" + c.directory;
  c.prepare(directory, c.file);

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

  EXPECT_EQ(backupAdapterImage(entry, directory, c.suffix), c.result);
  const std::string path = directory + c.file;
  if (c.fileWritten) {
    EXPECT_EQ(test::readBinaryFile(path), flash);
  } else if (std::filesystem::is_regular_file(path)) {
    EXPECT_TRUE(test::readFile(path).empty()) << "a failed backup left data behind";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Backup, ::testing::ValuesIn(kBackupCases));

}  // namespace
}  // namespace hlv
