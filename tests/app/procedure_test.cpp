// The per-adapter update and rollback procedures: their console blocks, results, backups and the
// driver restart, on an adapter with a fake update interface in a fake sysfs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "app/rollback_journal.h"
#include "app/rollback_procedure.h"
#include "app/update_procedure.h"
#include "app/update_session.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::FakeUpdater;

constexpr const char* kBdf = "0000:03:00.0";

// One adapter, eth0 at 0000:03:00.0, bound to its driver (unless a case unbinds it), with a fake
// update interface over a flash of 4 KiB, and the run's log directory.
class Procedure : public ::testing::Test {
 protected:
  Procedure() {
    test::FakePciFunction function;
    function.bdf = kBdf;
    sysfs_.addFunction(function);
    platform::FileProblem problem;
    logs_ = trace::makeLogDirectory(root_.path() + "/", "run", problem);
    EXPECT_TRUE(logs_.isOpen()) << problem.reason;
    flash_.resize(0x1000);
    for (std::size_t i = 0; i < flash_.size(); ++i)
      flash_[i] = static_cast<uint8_t>(i * 13);
  }

  std::string logDirectory() const { return logs_.path(); }

  AdapterEntry entry(uint32_t imageType, const std::function<void(FakeUpdater&)>& setup,
                     const std::string& interfaceName = "eth0") {
    auto info = std::make_unique<AdapterInfo>();
    info->bdf = kBdf;
    info->interfaceName = interfaceName;
    info->sysfsPath = test::FakeSysfs::devicePath(kBdf);
    info->vendorId = 0x1E9C;
    info->deviceId = imageType == 2 ? 0x21C3 : 0x20C3;
    info->subsystemDeviceId = 0x0001;
    info->subsystemVendorId = 0x1E9C;
    auto updater = std::make_unique<FakeUpdater>();
    updater->flash = flash_;
    updater->adapterType = imageType;
    setup(*updater);
    updater_ = updater.get();
    info->updater = std::move(updater);

    AdapterEntry made(3, std::move(info));
    made.imageType = imageType;
    made.currentVersion = {3, 1, 57};
    made.previousVersion = {3, 0, 9};
    made.macData = "\xA1\xB2";
    made.phyData = "\xC3";
    test::writeFile(root_ / "fw.bin", std::string(0x2000, 'F'));
    image_ = std::make_shared<VoImageFile>(root_ / "fw.bin");
    image_->setVersion({3, 1, 121});
    image_->setType(imageType);
    made.selectedImage = image_;
    return made;
  }

  std::string driverFile(const std::string& name) const {
    return test::readFile(sysfs_.hostPath("/sys/bus/pci/drivers/halvern/" + name));
  }

  test::TempDir root_;
  trace::LogDirectory logs_;
  test::FakeSysfs sysfs_{root_.path()};
  platform::RootedPlatform machine_{root_.path()};
  platform::ScopedPlatform installed_{machine_};
  std::vector<uint8_t> flash_;
  FakeUpdater* updater_ = nullptr;
  std::shared_ptr<VoImageFile> image_;
};

const std::string kUpdateHead =
    "=== \n"
    "+ Adapter: eth0 \n"
    "|-- HWID:  VEN_1E9C&DEV_20C3&SUBSYS_00011E9C \n";
const std::string kPowerCycle = "|-- To complete update process please power cycle your PC. \n";
const std::string kBlockEnd = "===\n \n";

struct UpdateCase {
  const char* what;
  uint32_t imageType = 1;
  std::function<void(FakeUpdater&)> adapter = [](FakeUpdater&) {};
  std::function<void(AdapterEntry&, test::FakeSysfs&)> change = [](AdapterEntry&,
                                                                   test::FakeSysfs&) {};
  uint32_t result = 0;
  std::string output;
  bool flashWritten = true;
  bool driverRestarted = true;  // the address was written to unbind and bind
  bool backupWritten = true;
};

void PrintTo(const UpdateCase& c, std::ostream* os) {
  *os << c.what;
}

const UpdateCase kUpdateCases[] = {
    {.what = "a type 1 adapter is updated, reloaded and restarted",
     .output = kUpdateHead +
               "|-- Backing up... [OK] \n"
               "|-- Updating... [OK] \n"
               "|-- New firmware version: 3.1.121 \n"
               "|-- Trying to reload firmware... [OK] \n"
               "|-- Restarting device driver... [OK] \n" +
               kBlockEnd},
    {.what = "a type 1 adapter whose reload fails asks for a power cycle",
     .adapter = [](FakeUpdater& u) { u.reloadResult = 31; },
     .output = kUpdateHead +
               "|-- Backing up... [OK] \n"
               "|-- Updating... [OK] \n"
               "|-- New firmware version: 3.1.121 \n"
               "|-- Trying to reload firmware... [FAILED] \n"
               "|-- Restarting device driver... [OK] \n" +
               kPowerCycle + kBlockEnd},
    {.what = "a type 2 adapter is not reloaded and asks for a power cycle",
     .imageType = 2,
     .output = "=== \n"
               "+ Adapter: eth0 \n"
               "|-- HWID:  VEN_1E9C&DEV_21C3&SUBSYS_00011E9C \n"
               "|-- Backing up... [OK] \n"
               "|-- Updating... [OK] \n"
               "|-- New firmware version: 3.1.121 \n"
               "|-- Restarting device driver... [OK] \n" +
               kPowerCycle + kBlockEnd},
    {.what = "a failed update reports its code and still restarts the driver",
     .adapter = [](FakeUpdater& u) { u.updateResult = 7; },
     .result = 7,
     .output = kUpdateHead +
               "|-- Backing up... [OK] \n"
               "|-- Updating... [FAILED : 7] \n"
               "|-- Restarting device driver... [OK] \n" +
               kPowerCycle + kBlockEnd},
    {.what = "no image: nothing is written, the driver is restarted",
     .change = [](AdapterEntry& e, test::FakeSysfs&) { e.selectedImage.reset(); },
     .result = 3,
     .output = kUpdateHead +
               "|-- Backing up... [OK] \n"
               "|-- Updating... [FAILED : 3] \n"
               "|-- Restarting device driver... [OK] \n" +
               kPowerCycle + kBlockEnd,
     .flashWritten = false},
    {.what = "a driver restart that fails asks for a power cycle but keeps the result",
     .change =
         [](AdapterEntry&, test::FakeSysfs& s) {
           std::filesystem::remove(s.hostPath("/sys/bus/pci/drivers/halvern/0000:03:00.0"));
         },
     .output = kUpdateHead +
               "|-- Backing up... [OK] \n"
               "|-- Updating... [OK] \n"
               "|-- New firmware version: 3.1.121 \n"
               "|-- Trying to reload firmware... [OK] \n"
               "|-- Restarting device driver... [FAILED] \n" +
               kPowerCycle + kBlockEnd,
     .driverRestarted = false},
    {.what = "a failed backup stops before the flash is touched",
     .adapter = [](FakeUpdater& u) { u.flash.clear(); },
     .result = 4,
     .output = kUpdateHead + "|-- Backing up... [FAILED] \n"
                             "|-- Update stopped: firmware has not been updated\n"
                             "===\n \n",
     .flashWritten = false,
     .driverRestarted = false,
     .backupWritten = false},
    {.what = "a backup file that cannot be opened stops the update with 6",
     .change = [](AdapterEntry& e,
                  test::FakeSysfs&) { e.adapter->interfaceName = "no/such/directory"; },
     .result = 6,
     .output = "=== \n"
               "+ Adapter: no/such/directory \n"
               "|-- HWID:  VEN_1E9C&DEV_20C3&SUBSYS_00011E9C \n"
               "|-- Backing up... [FAILED] \n"
               "|-- Update stopped: firmware has not been updated\n"
               "===\n \n",
     .flashWritten = false,
     .driverRestarted = false,
     .backupWritten = false},
};

class UpdateProcedure : public Procedure, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateProcedure, PrintsTheBlockAndReturnsTheUpdatesResult) {
  const UpdateCase& c = GetParam();
  AdapterEntry adapter = entry(c.imageType, c.adapter);
  c.change(adapter, sysfs_);

  ::testing::internal::CaptureStdout();
  const uint32_t result = updateAdapter(adapter, logs_);
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
  EXPECT_EQ(result, c.result);

  EXPECT_EQ(updater_->calls.update, c.flashWritten ? 1 : 0);
  if (updater_->calls.update == 1) {
    EXPECT_EQ(updater_->lastImage, image_->data());
    EXPECT_EQ(updater_->lastImageLength, image_->size());
    EXPECT_EQ(updater_->lastMacData, "\xA1\xB2");
    EXPECT_EQ(updater_->lastPhyData, "\xC3");
  }
  EXPECT_FALSE(updater_->lastReloadFlag);
  EXPECT_EQ(driverFile("unbind"), c.driverRestarted ? kBdf : "");
  EXPECT_EQ(driverFile("bind"), c.driverRestarted ? kBdf : "");
  const std::string backup = logDirectory() + "image_eth0.bin";
  EXPECT_EQ(test::fileExists(backup), c.backupWritten);
  if (c.backupWritten) {
    EXPECT_EQ(test::readBinaryFile(backup), flash_);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateProcedure, ::testing::ValuesIn(kUpdateCases));

TEST_F(Procedure, AnAdapterWithoutANetworkInterfaceIsUpdatedWithoutADriverRestart) {
  AdapterEntry adapter = entry(
      1, [](FakeUpdater&) {}, "unknown");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(updateAdapter(adapter, logs_), 0u);
  std::fflush(stdout);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(output.find("|-- Restarting device driver... [OK] \n===\n \n"), std::string::npos)
      << output;
  EXPECT_EQ(driverFile("unbind"), "");
  EXPECT_EQ(test::readBinaryFile(logDirectory() + "image_unknown.bin"), flash_);
}

void chmodTo(const std::filesystem::path& path, std::filesystem::perms perms) {
  std::filesystem::permissions(path, perms, std::filesystem::perm_options::replace);
}
constexpr std::filesystem::perms kOwnerReadWrite =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

const std::string kRollbackHead =
    "This will restore adapter's firmware to the previous version. \n"
    "  Current version:\t3.1.57 \n"
    "  Previous version:\t3.0.9 \n"
    "[WARNING] This is an experimental feature which may not work correctly. \n"
    "  Please ONLY use if absolutely necessary, e.g. network adapter not functional after "
    "firmware update. \n"
    "Please confirm firmware rollback operation (y/n): ";

struct RollbackCase {
  const char* what;
  std::string input;
  std::function<void(FakeUpdater&)> adapter = [](FakeUpdater&) {};
  std::function<void(AdapterEntry&, test::FakeSysfs&)> change = [](AdapterEntry&,
                                                                   test::FakeSysfs&) {};
  uint32_t result = 0;
  std::string output;
  bool rolledBack = true;
  bool driverRestarted = true;
  bool backupWritten = true;
  bool journalWritten = true;  // the run's journal names the run's backup
};

void PrintTo(const RollbackCase& c, std::ostream* os) {
  *os << c.what;
}

const RollbackCase kRollbackCases[] = {
    {.what = "a confirmed rollback asks for a power cycle, as no update ran in this run",
     .input = "y\n",
     .output = kRollbackHead + "Backing up... [OK] \n"
                               "Performing firmware rollback on adapter 'eth0'... \n"
                               "/!\\ Rollback succeeded but firmware could not be restarted \n"
                               "Restarting device driver... [OK] \n"
                               "Firmware rollback finished! \n"
                               "Please power cycle the setup to complete the operation. \n"},
    {.what = "the answer's letter case does not matter",
     .input = "YES\n",
     .output = kRollbackHead + "Backing up... [OK] \n"
                               "Performing firmware rollback on adapter 'eth0'... \n"
                               "/!\\ Rollback succeeded but firmware could not be restarted \n"
                               "Restarting device driver... [OK] \n"
                               "Firmware rollback finished! \n"
                               "Please power cycle the setup to complete the operation. \n"},
    {.what = "an empty answer is asked again",
     .input = "\nn\n",
     .result = 41,
     .output = kRollbackHead + "Please confirm firmware rollback operation (y/n): " +
               "Firmware rollback aborted. \n",
     .rolledBack = false,
     .driverRestarted = false,
     .backupWritten = false,
     .journalWritten = false},
    {.what = "a refusal leaves the adapter alone",
     .input = "yes please\n",
     .result = 41,
     .output = kRollbackHead + "Firmware rollback aborted. \n",
     .rolledBack = false,
     .driverRestarted = false,
     .backupWritten = false,
     .journalWritten = false},
    {.what = "end of input is a refusal",
     .input = "y",
     .result = 41,
     .output = kRollbackHead + "Firmware rollback aborted. \n",
     .rolledBack = false,
     .driverRestarted = false,
     .backupWritten = false,
     .journalWritten = false},
    {.what = "no previous firmware stops before the question",
     .input = "y\n",
     .change = [](AdapterEntry& e, test::FakeSysfs&) { e.previousVersion = {}; },
     .result = 2,
     .output = "[!] Backup firmware not found, rollback is not possible. Stopping. \n",
     .rolledBack = false,
     .driverRestarted = false,
     .backupWritten = false,
     .journalWritten = false},
    {.what = "a failed backup stops before the flash is touched",
     .input = "y\n",
     .adapter = [](FakeUpdater& u) { u.readResult = 15; },
     .result = 4,
     .output = kRollbackHead + "Backing up... [FAILED] \n",
     .rolledBack = false,
     .driverRestarted = false,
     .backupWritten = false,
     .journalWritten = false},
    {.what = "a failed rollback names the adapter's index and restarts the driver",
     .input = "y\n",
     .adapter = [](FakeUpdater& u) { u.rollbackResult = 24; },
     .result = 24,
     .output = kRollbackHead + "Backing up... [OK] \n"
                               "Performing firmware rollback on adapter 'eth0'... \n"
                               "[!] Rollback failed on adapter #3 \n"
                               "Restarting device driver... [OK] \n"
                               "Firmware rollback finished! \n"},
    {.what = "a failed rollback and driver restart ask for a power cycle",
     .input = "y\n",
     .adapter = [](FakeUpdater& u) { u.rollbackResult = 24; },
     .change =
         [](AdapterEntry&, test::FakeSysfs& s) {
           std::filesystem::remove(s.hostPath("/sys/bus/pci/drivers/halvern/0000:03:00.0"));
         },
     .result = 24,
     .output = kRollbackHead + "Backing up... [OK] \n"
                               "Performing firmware rollback on adapter 'eth0'... \n"
                               "[!] Rollback failed on adapter #3 \n"
                               "Restarting device driver... [FAILED] \n"
                               "Firmware rollback finished! \n"
                               "Please power cycle the setup to complete the operation. \n",
     .driverRestarted = false},
    {.what = "a rollback its own checks refuse writes no journal and leaves the flash alone",
     .input = "y\n",
     .adapter = [](FakeUpdater& u) { u.planResult = 24; },
     .result = 24,
     .output = kRollbackHead + "Backing up... [OK] \n"
                               "Performing firmware rollback on adapter 'eth0'... \n"
                               "[!] Rollback failed on adapter #3 \n"
                               "Restarting device driver... [OK] \n"
                               "Firmware rollback finished! \n",
     .rolledBack = false,
     .journalWritten = false},
    {.what = "a link placed where the journal goes stops the rollback before the flash",
     .input = "y\n",
     .change =
         [](AdapterEntry&, test::FakeSysfs& s) {
           const std::string run = s.hostPath("/logs/run/");
           test::writeFile(run + "../target", "kept\n");
           std::filesystem::create_symlink("../target", run + "rollback.journal");
         },
     .result = 6,
     .output = kRollbackHead + "Backing up... [FAILED] \n",
     .rolledBack = false,
     .driverRestarted = false,
     .journalWritten = false},
};

class RollbackProcedure : public Procedure, public ::testing::WithParamInterface<RollbackCase> {};

// Feeds the text as the operator's input.
std::FILE* inputOf(const std::string& text) {
  std::FILE* in = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), in);
  std::rewind(in);
  return in;
}

TEST_P(RollbackProcedure, ConfirmsBacksUpSwitchesAndRestarts) {
  const RollbackCase& c = GetParam();
  AdapterEntry adapter = entry(1, c.adapter);
  c.change(adapter, sysfs_);
  std::FILE* in = inputOf(c.input);

  ::testing::internal::CaptureStdout();
  const uint32_t result = rollbackAdapter(adapter, logs_, in);
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
  std::fclose(in);
  EXPECT_EQ(result, c.result);

  EXPECT_EQ(updater_->calls.rollbackFirmware, c.rolledBack ? 1 : 0);
  EXPECT_EQ(updater_->calls.update, 0);
  EXPECT_FALSE(updater_->lastReloadFlag);
  EXPECT_EQ(driverFile("unbind"), c.driverRestarted ? kBdf : "");
  EXPECT_EQ(driverFile("bind"), c.driverRestarted ? kBdf : "");
  const std::string backup = logDirectory() + "image_eth0_rollback.bin";
  EXPECT_EQ(test::fileExists(backup), c.backupWritten);
  if (c.backupWritten) {
    EXPECT_EQ(test::readBinaryFile(backup), flash_);
  }
  // Before the flash is touched, the journal names the backup with its digest and says what the
  // rollback rewrites.
  const std::string journalPath = logDirectory() + kRollbackJournalName;
  if (c.journalWritten) {
    const std::optional<RollbackJournal> journal = parseRollbackJournal(test::readFile(journalPath));
    ASSERT_TRUE(journal);
    EXPECT_EQ(journal->sequence, 1u);
    EXPECT_EQ(journal->pciAddress, kBdf);
    EXPECT_EQ(journal->backup, "run/image_eth0_rollback.bin");
    EXPECT_EQ(journal->backupDigest, *sha256(flash_));
    EXPECT_EQ(journal->plan.activateAddress, updater_->rollbackPlan.activateAddress);
    EXPECT_EQ(std::filesystem::status(journalPath).permissions() &
                  std::filesystem::perms::all,
              kOwnerReadWrite);
  } else if (!std::filesystem::is_symlink(journalPath)) {
    EXPECT_FALSE(test::fileExists(journalPath));
  } else {
    EXPECT_EQ(test::readFile(root_ / "logs/target"), "kept\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RollbackProcedure, ::testing::ValuesIn(kRollbackCases));

// What an earlier run left under logs/: a rollback journal in its run directory and the backup
// the journal names, with how the files look on disk.
struct LoggedRollback {
  std::string run;          // the run directory's name
  uint64_t sequence = 1;    // the journal's
  char fill = 'G';          // the backup's bytes; 'G': the adapter accepts it, others it refuses
  std::size_t size = 0x1000;  // the backup's size (the flash's)
  std::string adapter = kBdf;
  std::string backupFile = "image_eth0_rollback.bin";
  bool journalNamesOtherBytes = false;  // the journal's digest is of other bytes
  bool backupMissing = false;
  uint32_t activate = 0x4000;  // what the journal says the rollback activates
  std::function<void(const std::filesystem::path& run)> tamper = {};
};

struct ResumeCase {
  const char* what;
  std::vector<LoggedRollback> logs;
  std::string taken;  // the backup (under logs/) the rollback is finished from; none: stopped
  uint64_t sequence = 0;  // the new journal's, when taken
};

void PrintTo(const ResumeCase& c, std::ostream* os) {
  *os << c.what;
}

void leave(const std::filesystem::path& logs, const LoggedRollback& logged) {
  const std::filesystem::path run = logs / logged.run;
  std::filesystem::create_directories(run);
  const std::vector<uint8_t> bytes(logged.size, static_cast<uint8_t>(logged.fill));
  if (!logged.backupMissing) {
    test::writeBinaryFile(run / logged.backupFile, bytes);
    chmodTo(run / logged.backupFile, kOwnerReadWrite);
  }
  RollbackJournal journal;
  journal.sequence = logged.sequence;
  journal.pciAddress = logged.adapter;
  journal.plan = FakeUpdater().rollbackPlan;
  journal.plan.flashSize = 0x1000;
  journal.plan.activateAddress = logged.activate;
  journal.plan.current = {3, 1, 57};
  journal.plan.previous = {3, 0, 11};
  journal.backup = logged.run + "/" + logged.backupFile;
  std::vector<uint8_t> digested = bytes;
  if (logged.journalNamesOtherBytes) digested[7] ^= 1;
  journal.backupDigest = *sha256(digested);
  test::writeFile(run / kRollbackJournalName, formatRollbackJournal(journal));
  chmodTo(run / kRollbackJournalName, kOwnerReadWrite);
  if (logged.tamper) logged.tamper(run);
}

const ResumeCase kResumeCases[] = {
    {"the newest journal's backup is taken, whatever the directories' names say",
     {{.run = "20250301_10-00-05", .sequence = 1},
      {.run = "20240101_00-00-00", .sequence = 3},
      {.run = "20250301_10-00-09", .sequence = 2}},
     "20240101_00-00-00/image_eth0_rollback.bin",
     4},
    {"the newest journal's backup is missing: no older one is tried",
     {{.run = "a", .sequence = 1}, {.run = "b", .sequence = 2, .backupMissing = true}},
     ""},
    {"the newest journal's backup is empty",
     {{.run = "a", .sequence = 1}, {.run = "b", .sequence = 2, .size = 0}},
     ""},
    {"the newest journal's backup is of another size",
     {{.run = "b", .sequence = 2, .size = 0x1001}},
     ""},
    {"the backup holds other bytes than its journal recorded",
     {{.run = "b", .sequence = 2, .journalNamesOtherBytes = true}},
     ""},
    {"the adapter refuses the newest journal's backup: no older one is tried",
     {{.run = "a", .sequence = 1}, {.run = "b", .sequence = 2, .fill = 'x'}},
     ""},
    {"a backup no journal names is never taken",
     {{.run = "a", .sequence = 1, .tamper =
           [](const std::filesystem::path& run) {
             std::filesystem::remove(run / kRollbackJournalName);
           }}},
     ""},
    {"another adapter's journal is not this adapter's",
     {{.run = "a", .sequence = 1, .adapter = "0000:04:00.0"}},
     ""},
    {"the journal recorded another block to activate than the backup's rollback would",
     {{.run = "a", .sequence = 1, .activate = 0x0}},
     ""},
    {"two journals share the newest sequence",
     {{.run = "a", .sequence = 2}, {.run = "b", .sequence = 2}},
     ""},
    {"a journal others may read is not the tool's own",
     {{.run = "a", .sequence = 1, .tamper =
           [](const std::filesystem::path& run) {
             chmodTo(run / kRollbackJournalName,
                     kOwnerReadWrite | std::filesystem::perms::others_read);
           }}},
     ""},
    {"a journal of another owner is not the tool's own",
     {{.run = "a", .sequence = 1, .tamper =
           [](const std::filesystem::path& run) {
             ASSERT_EQ(lchown((run / kRollbackJournalName).c_str(), 1, 1), 0);
           }}},
     ""},
    {"a journal that is a link is not the tool's own",
     {{.run = "a", .sequence = 1, .tamper =
           [](const std::filesystem::path& run) {
             std::filesystem::rename(run / kRollbackJournalName, run / "elsewhere");
             std::filesystem::create_symlink("elsewhere", run / kRollbackJournalName);
           }}},
     ""},
    {"a backup that is a link is not the tool's own",
     {{.run = "a", .sequence = 1, .tamper =
           [](const std::filesystem::path& run) {
             std::filesystem::rename(run / "image_eth0_rollback.bin", run / "elsewhere.bin");
             std::filesystem::create_symlink("elsewhere.bin", run / "image_eth0_rollback.bin");
           }}},
     ""},
    {"a run directory others may write to is not the tool's own",
     {{.run = "a", .sequence = 1, .tamper =
           [](const std::filesystem::path& run) {
             std::filesystem::permissions(run, std::filesystem::perms::others_write,
                                          std::filesystem::perm_options::add);
           }}},
     ""},
    {"without any journal, the rollback stops as before", {}, ""},
};

class ResumedRollback : public Procedure, public ::testing::WithParamInterface<ResumeCase> {};

// An adapter whose last rollback was cut short while it rewrote the previous block has no
// previous firmware on its flash; the backup that rollback's journal names finishes it, and no
// other file.
TEST_P(ResumedRollback, FinishesFromTheBackupTheNewestJournalNamesOrStops) {
  const ResumeCase& c = GetParam();
  const std::filesystem::path logs = root_ / "logs";
  for (const LoggedRollback& logged : c.logs)
    leave(logs, logged);
  AdapterEntry adapter = entry(1, [](FakeUpdater& u) {
    u.backupCheck = [](std::span<const uint8_t> bytes) -> uint32_t {
      return bytes.size() == 0x1000 && bytes[0] == 'G' ? 0 : 40;
    };
    u.backupPreviousVersion = {3, 0, 11};
    u.rollbackPlan.flashSize = 0x1000;
  });
  adapter.previousVersion = {};
  std::FILE* in = inputOf("y\n");

  ::testing::internal::CaptureStdout();
  const uint32_t result = rollbackAdapter(adapter, logs_, in);
  std::fflush(stdout);
  const std::string output = ::testing::internal::GetCapturedStdout();
  std::fclose(in);

  EXPECT_EQ(updater_->calls.rollbackFirmware, 0);
  EXPECT_LE(updater_->checkedBackups.size(), 2u) << "more than the one backup was looked at";
  if (c.taken.empty()) {
    EXPECT_EQ(result, 2u);
    EXPECT_EQ(output, "[!] Backup firmware not found, rollback is not possible. Stopping. \n");
    EXPECT_EQ(updater_->calls.rollbackFromBackup, 0);
    EXPECT_EQ(driverFile("unbind"), "");
    EXPECT_FALSE(test::fileExists(logDirectory() + kRollbackJournalName));
    return;
  }
  const std::string taken = (logs / c.taken).native();
  EXPECT_EQ(result, 0u);
  EXPECT_EQ(output,
            "An interrupted rollback was found; it is finished from the backup '" + taken +
                "' \n"
                "This will restore adapter's firmware to the previous version. \n"
                "  Current version:\t3.1.57 \n"
                "  Previous version:\t3.0.11 \n"
                "[WARNING] This is an experimental feature which may not work correctly. \n"
                "  Please ONLY use if absolutely necessary, e.g. network adapter not functional "
                "after firmware update. \n"
                "Please confirm firmware rollback operation (y/n): "
                "Backing up... [OK] \n"
                "Performing firmware rollback on adapter 'eth0'... \n"
                "/!\\ Rollback succeeded but firmware could not be restarted \n"
                "Restarting device driver... [OK] \n"
                "Firmware rollback finished! \n"
                "Please power cycle the setup to complete the operation. \n");
  EXPECT_EQ(updater_->calls.rollbackFromBackup, 1);
  EXPECT_EQ(updater_->rolledBackFrom, test::readBinaryFile(taken));
  EXPECT_EQ(driverFile("bind"), kBdf);
  // The flash as it is now is saved before the rollback, as on the ordinary path, and this
  // run's journal names the backup it finishes from, so that a cut of this run is finished the
  // same way.
  EXPECT_EQ(test::readBinaryFile(logDirectory() + "image_eth0_rollback.bin"), flash_);
  const std::optional<RollbackJournal> journal =
      parseRollbackJournal(test::readFile(logDirectory() + kRollbackJournalName));
  ASSERT_TRUE(journal);
  EXPECT_EQ(journal->sequence, c.sequence);
  EXPECT_EQ(journal->backup, c.taken);
  EXPECT_EQ(journal->backupDigest, *sha256(test::readBinaryFile(taken)));
  EXPECT_EQ(journal->plan.previous, (FirmwareVersion{3, 0, 11}));
}

INSTANTIATE_TEST_SUITE_P(Cases, ResumedRollback, ::testing::ValuesIn(kResumeCases));

struct SelectionCase {
  const char* what;
  std::string adapterName;
  std::string input;
  uint32_t result;
  std::string after;  // printed after the table
  // What the rollback's own checks answer for the first adapter, which has a previous version.
  uint32_t firstPlan = 0;
};

void PrintTo(const SelectionCase& c, std::ostream* os) {
  *os << c.what;
}

const std::string kSelectPrompt =
    "Please select an adapter to restore previous firmware version:\n \n"
    "Enter adapter number or 'q' to quit \n>";
const std::string kNoPrevious =
    "[!] Backup firmware not found, rollback is not possible. Stopping. \n";

const SelectionCase kSelectionCases[] = {
    {"quitting at the prompt gives 41", "", "q\n", 41, kSelectPrompt},
    {"an adapter without previous firmware can be chosen and stops with 2", "", "2\n", 2,
     kSelectPrompt + kNoPrevious},
    {"a name skips the prompt", "eth1", "", 2, kNoPrevious},
    {"a name that matches no adapter falls back to the prompt", "ETH1", "", 41, kSelectPrompt},
    // The block is whole, but the firmware it describes is not (an update cut while it rewrote
    // that bank): offered, the rollback would be refused only once confirmed and backed up.
    {"a previous block the rollback refuses is not offered and stops with 2", "", "1\n", 2,
     kSelectPrompt + kNoPrevious, 24},
    {"a previous block with a free area is not offered either", "eth0", "", 2, kNoPrevious, 2},
};

class RollbackSelection : public Procedure, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(RollbackSelection, ChoosesByNameOrByNumber) {
  const SelectionCase& c = GetParam();
  UpdateSession session(root_ / "tool/", SessionOptions{false, true, c.adapterName});
  session.adapters().push_back(entry(1, [&](FakeUpdater& u) { u.planResult = c.firstPlan; }));
  session.adapters().push_back(entry(
      1, [](FakeUpdater&) {}, "eth1"));
  session.adapters().back().index = 1;
  session.adapters().back().previousVersion = {};
  std::FILE* in = inputOf(c.input);

  ::testing::internal::CaptureStdout();
  const uint32_t result = rollbackSelection(session, in);
  std::fflush(stdout);
  const std::string output = ::testing::internal::GetCapturedStdout();
  std::fclose(in);

  EXPECT_EQ(result, c.result);
  const std::size_t tableEnd = output.find("\n\n");
  ASSERT_NE(tableEnd, std::string::npos) << output;
  EXPECT_NE(output.find("Rollback"), std::string::npos) << "not the rollback table:\n" << output;
  EXPECT_EQ(output.find("Available: ") < tableEnd, c.firstPlan == 0) << output;
  EXPECT_EQ(output.substr(tableEnd + 2), c.after);
  EXPECT_FALSE(test::fileExists(logDirectory() + "image_eth0_rollback.bin"));
}

INSTANTIATE_TEST_SUITE_P(Cases, RollbackSelection, ::testing::ValuesIn(kSelectionCases));

}  // namespace
}  // namespace hlv
