// The per-adapter rollback procedure: the confirmation, backup, switch and driver restart, a
// rollback cut short finished from its backup, and the choice of the adapter to roll back.
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
#include "app/update_session.h"
#include "device/pci_discovery.h"
#include "tests/app/procedure_fixture.h"
#include "tests/support/operator_texts.h"

namespace hlv {
namespace {

using test::FakeUpdater;
using test::kBdf;
using test::Procedure;

void chmodTo(const std::filesystem::path& path, std::filesystem::perms perms) {
  std::filesystem::permissions(path, perms, std::filesystem::perm_options::replace);
}
constexpr std::filesystem::perms kOwnerReadWrite =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

const std::string kRollbackHead = test::rollbackQuestion({3, 1, 57}, {3, 0, 9});

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
     .output = kRollbackHead + test::rollbackOutcome("eth0", 3, 0)},
    {.what = "the answer's letter case does not matter",
     .input = "YES\n",
     .output = kRollbackHead + test::rollbackOutcome("eth0", 3, 0)},
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
     .output = kRollbackHead + test::kRollbackAborted,
     .rolledBack = false,
     .driverRestarted = false,
     .backupWritten = false,
     .journalWritten = false},
    {.what = "end of input is a refusal",
     .input = "y",
     .result = 41,
     .output = kRollbackHead + test::kRollbackAborted,
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
     .output = kRollbackHead + test::rollbackOutcome("eth0", 3, 24)},
    {.what = "a failed rollback and driver restart ask for a power cycle",
     .input = "y\n",
     .adapter = [](FakeUpdater& u) { u.rollbackResult = 24; },
     .change =
         [](AdapterEntry&, test::FakeSysfs& s) {
           std::filesystem::remove(s.hostPath("/sys/bus/pci/drivers/halvern/0000:03:00.0"));
         },
     .result = 24,
     .output = kRollbackHead + test::rollbackOutcome("eth0", 3, 24, /*driverRestarted=*/false),
     .driverRestarted = false},
    {.what = "a rollback its own checks refuse writes no journal and leaves the flash alone",
     .input = "y\n",
     .adapter = [](FakeUpdater& u) { u.planResult = 24; },
     .result = 24,
     .output = kRollbackHead + test::rollbackOutcome("eth0", 3, 24),
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
    const std::optional<RollbackJournal> journal =
        parseRollbackJournal(test::readFile(journalPath));
    ASSERT_TRUE(journal);
    EXPECT_EQ(journal->sequence, 1u);
    EXPECT_EQ(journal->pciAddress, kBdf);
    EXPECT_EQ(journal->backup, "run/image_eth0_rollback.bin");
    EXPECT_EQ(journal->backupDigest, *sha256(flash_));
    EXPECT_EQ(journal->plan.activateAddress, updater_->rollbackPlan.activateAddress);
    EXPECT_EQ(std::filesystem::status(journalPath).permissions() & std::filesystem::perms::all,
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
  std::string run;            // the run directory's name
  uint64_t sequence = 1;      // the journal's
  char fill = 'G';            // the backup's bytes; 'G': the adapter accepts it, others it refuses
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
  std::string taken;      // the backup (under logs/) the rollback is finished from; none: stopped
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
     {{.run = "a",
       .sequence = 1,
       .tamper =
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
     {{.run = "a",
       .sequence = 1,
       .tamper =
           [](const std::filesystem::path& run) {
             chmodTo(run / kRollbackJournalName,
                     kOwnerReadWrite | std::filesystem::perms::others_read);
           }}},
     ""},
    {"a journal of another owner is not the tool's own",
     {{.run = "a",
       .sequence = 1,
       .tamper =
           [](const std::filesystem::path& run) {
             ASSERT_EQ(lchown((run / kRollbackJournalName).c_str(), 1, 1), 0);
           }}},
     ""},
    {"a journal that is a link is not the tool's own",
     {{.run = "a",
       .sequence = 1,
       .tamper =
           [](const std::filesystem::path& run) {
             std::filesystem::rename(run / kRollbackJournalName, run / "elsewhere");
             std::filesystem::create_symlink("elsewhere", run / kRollbackJournalName);
           }}},
     ""},
    {"a backup that is a link is not the tool's own",
     {{.run = "a",
       .sequence = 1,
       .tamper =
           [](const std::filesystem::path& run) {
             std::filesystem::rename(run / "image_eth0_rollback.bin", run / "elsewhere.bin");
             std::filesystem::create_symlink("elsewhere.bin", run / "image_eth0_rollback.bin");
           }}},
     ""},
    {"a run directory others may write to is not the tool's own",
     {{.run = "a",
       .sequence = 1,
       .tamper =
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
  EXPECT_EQ(output, test::kInterruptedRollbackFound + taken + "' \n" +
                        test::rollbackQuestion({3, 1, 57}, {3, 0, 11}) +
                        test::rollbackOutcome("eth0", 3, 0));
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
