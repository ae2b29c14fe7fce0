// The whole tool interrupted by a signal at chosen points of its work on a lab's adapter (the
// emulated adapter raises it: at its n-th SPI command, at a virtual time, at a semaphore grant):
// what the operator sees, the exit status, the flash, the backup, the driver and the trace.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/expected_output.h"
#include "tests/e2e/lab_scenario.h"
#include "tests/support/operator_texts.h"
#include "tests/support/reference_layout.h"
#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hlvsim_lab.h"

namespace hlv::test {
namespace {

constexpr FirmwareVersion kOld{1, 5, 90};
constexpr FirmwareVersion kNew{1, 6, 2};
constexpr FirmwareVersion kBeforeUpdate{1, 5, 86};
constexpr uint32_t kFlashSize = 2u << 20;

// One adapter offered a newer image: a type-1 model, whose firmware the update reloads, or a
// type-2 model, whose new firmware needs a power cycle. `conf` adds its signal.
LabSpec oneAdapterLab(bool typeTwo, const std::string& conf) {
  LabSpec lab;
  LabAdapter adapter = typeTwoLayoutAdapter("enp1s0", kOld);
  if (typeTwo) adapter = typeTwoDevice(adapter);
  adapter.image = "fw.bin";
  adapter.status = availableStatus(kNew);
  adapter.conf = conf;
  lab.adapters = {adapter};
  lab.images = {bundleImage("fw.bin", kNew, adapter.deviceId)};
  lab.database = database(boardEntry("board", adapter.deviceId, 0x1F70, 0x1028, "fw.bin"));
  return lab;
}

// The "interrupted by the operator" record and the signal it came as.
void expectInterruptTraced(const Lab& lab, int signalNumber) {
  const ProcessResult decoded =
      runProcess(builtProgram("hlvtrace"), {lab.logDirectory() + "voflashupdatelog.etl"});
  ASSERT_EQ(decoded.exitStatus, 0) << decoded.err;
  EXPECT_NE(decoded.out.find("interrupt_handler.kInterrupted"), std::string::npos) << decoded.out;
  EXPECT_NE(decoded.out.find("interrupt_handler.kInterruptSignal: the interrupt came as signal " +
                             std::to_string(signalNumber)),
            std::string::npos)
      << decoded.out;
}

bool anyBackupIsWhole(const Lab& lab) {
  const std::string directory = lab.logDirectory();
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().filename().string().starts_with("image_") && entry.file_size() >= kFlashSize)
      return true;
  }
  return false;
}

struct SignalCase {
  const char* what;
  int signalNumber;
  std::string conf;  // where the adapter raises it
};

void PrintTo(const SignalCase& c, std::ostream* os) {
  *os << c.what;
}

class SignalDuringTheBackup : public ::testing::TestWithParam<SignalCase> {};

// The backup read is interruptible: the run ends right after it with 41, before anything is
// written to the flash or a backup is saved.
TEST_P(SignalDuringTheBackup, EndsTheRunWith41BeforeTheFlashIsTouched) {
  const SignalCase& c = GetParam();
  TempDir directory;
  Lab lab(directory, oneAdapterLab(false, c.conf));
  const ProcessResult result = lab.run({.args = {"-s"}});
  const Expect expect(lab);

  EXPECT_EQ(result.exitStatus, 41) << result.out << result.err;
  EXPECT_EQ(result.out, kBanner + kNotice + expect.table() + kSilentAll + kUpdatesStart +
                            "=== \n+ Adapter: enp1s0 \n"
                            "|-- HWID:  VEN_1E9C&DEV_20C3&SUBSYS_1F701028 \n"
                            "|-- Backing up... ");
  const std::string stats = lab.stats(0);
  // The read that was under way when the signal came went on to its end (the flash interface is
  // given back first); then the run stopped.
  EXPECT_GE(statValue(stats, "bytes_read"), kFlashSize) << stats;
  EXPECT_EQ(statValue(stats, "modifying_transfers"), 0) << stats;
  EXPECT_TRUE(lab.flashAfter(0) == lab.flashBefore(0));
  EXPECT_FALSE(anyBackupIsWhole(lab)) << "a backup that looks whole was left";
  EXPECT_EQ(lab.driverFile("unbind"), "");
  EXPECT_EQ(lab.driverFile("bind"), "");
  expectInterruptTraced(lab, c.signalNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SignalDuringTheBackup,
    ::testing::Values(
        // The read runs from about 0.1 s to 1.8 s of the run's virtual time.
        SignalCase{"CtrlCHalfwayThroughTheRead", SIGINT, "signal_at_us = 1000000\n"},
        SignalCase{"TerminationRequestHalfwayThroughTheRead", SIGTERM,
                   "signal = term\nsignal_at_us = 1000000\n"},
        // The read's own command: the signal comes as it starts.
        SignalCase{"CtrlCAsTheReadStarts", SIGINT, "signal_at_command = 18\n"}),
    [](const ::testing::TestParamInfo<SignalCase>& info) { return info.param.what; });

struct HeldCase {
  const char* what;
  bool typeTwo;
  int signalNumber;
  std::string conf;
};

void PrintTo(const HeldCase& c, std::ostream* os) {
  *os << c.what;
}

class SignalOnceTheFlashChanges : public ::testing::TestWithParam<HeldCase> {};

// Once the backup is saved the adapter's block is finished whatever comes: the update, the
// firmware reload, the driver bound again and, where needed, the power-cycle line; then the run
// ends with 41, without the closing summary.
TEST_P(SignalOnceTheFlashChanges, FinishesTheAdaptersBlockAndThenEndsWith41) {
  const HeldCase& c = GetParam();
  TempDir directory;
  Lab lab(directory, oneAdapterLab(c.typeTwo, c.conf));
  const ProcessResult result = lab.run({.args = {"-s"}});
  const Expect expect(lab);

  EXPECT_EQ(result.exitStatus, 41) << result.out << result.err;
  EXPECT_EQ(result.out, kBanner + kNotice + expect.table() + kSilentAll + kUpdatesStart +
                            updateBlock(expect.block(0)));
  EXPECT_TRUE(lab.flashAfter(0) ==
              referenceUpdate(lab.flashBefore(0), lab.imageBytes("fw.bin"), macBytes(), phyBytes()))
      << "the flash is not the updated one";
  EXPECT_TRUE(readBinaryFile(lab.logDirectory() + "image_enp1s0.bin") == lab.flashBefore(0));
  EXPECT_EQ(lab.driverFile("unbind"), lab.bdf(0));
  EXPECT_EQ(lab.driverFile("bind"), lab.bdf(0)) << "the driver was left unbound";
  const std::string stats = lab.stats(0);
  EXPECT_EQ(statValue(stats, "violations"), 0) << stats;
  EXPECT_NE(stats.find("semaphore_held_at_exit = no\n"), std::string::npos) << stats;
  if (!c.typeTwo) {
    // The reload ran whole: the firmware reset and the PHY restart.
    EXPECT_GE(statValue(stats, "firmware_resets"), 1) << stats;
    EXPECT_EQ(statValue(stats, "phy_restarts"), 1) << stats;
  }
  expectInterruptTraced(lab, c.signalNumber);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SignalOnceTheFlashChanges,
    ::testing::Values(
        // The update sends about a million commands, most of them status polls.
        HeldCase{"TerminationRequestWhileTheFlashIsWritten", false, SIGTERM,
                 "signal = term\nsignal_at_command = 1000\n"},
        HeldCase{"DroppedSessionWhileATypeTwoFlashIsWritten", true, SIGHUP,
                 "signal = hup\nsignal_at_command = 1000\n"},
        // The first semaphore of the run is taken in the reload's PHY restart, after the reset.
        HeldCase{"CtrlCDuringTheFirmwareReload", false, SIGINT, "interrupt_at_grant = 1\n"},
        HeldCase{"QuitDuringTheFirmwareReload", false, SIGQUIT,
                 "signal = quit\ninterrupt_at_grant = 1\n"}),
    [](const ::testing::TestParamInfo<HeldCase>& info) { return info.param.what; });

// A rollback interrupted once its backup is saved is finished, the driver bound again and the
// operator told to power cycle, before the run ends with 41.
TEST(SignalDuringARollback, FinishesTheRollbackAndThenEndsWith41) {
  LabSpec spec;
  spec.adapters = {updatedAdapter("enp1s0", kBeforeUpdate, kNew)};
  // The rollback's writes send some twenty thousand commands.
  spec.adapters[0].conf = "signal = term\nsignal_at_command = 1000\n";
  spec.adapters[0].status = notRequiredStatus();
  spec.images = {bundleImage("fw.bin", kNew)};
  spec.database = database(boardEntry("board", 0x20C3, 0x1F70, 0x1028, "fw.bin"));
  TempDir directory;
  Lab lab(directory, spec);
  const ProcessResult result = lab.run({.args = {"-r", "-a", "enp1s0"}, .input = "y\ny\n"});
  const Expect expect(lab);

  EXPECT_EQ(result.exitStatus, 41) << result.out << result.err;
  EXPECT_EQ(result.out, kBanner + kNotice + kPrompt + expect.table(true) +
                            rollbackQuestion(kNew, kBeforeUpdate) +
                            rollbackOutcome("enp1s0", 0, 0));
  EXPECT_TRUE(lab.flashAfter(0) == referenceRollback(lab.flashBefore(0)));
  EXPECT_EQ(lab.driverFile("bind"), lab.bdf(0));
  expectInterruptTraced(lab, SIGTERM);
}

// The operator's output piped into a command that has already ended: the writes fail, the
// update goes on to its end.
TEST(ClosedOutput, AnUpdateWhoseOutputNobodyReadsStillCompletes) {
  TempDir directory;
  Lab lab(directory, oneAdapterLab(false, ""));
  const ProcessResult result = lab.run({.args = {"-s"}, .outputClosed = true});
  EXPECT_EQ(result.signal, 0) << strsignal(result.signal);
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_TRUE(lab.flashAfter(0) == referenceUpdate(lab.flashBefore(0), lab.imageBytes("fw.bin"),
                                                   macBytes(), phyBytes()));
  EXPECT_EQ(lab.driverFile("bind"), lab.bdf(0));
  EXPECT_NE(lab.stats(0).find("phy_restarts = 1\n"), std::string::npos) << "no reload";
}

}  // namespace
}  // namespace hlv::test
