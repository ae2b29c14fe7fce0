// The whole tool through `hlvsim run` on a spread of cut and kill points, in every build.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "shared/halvern_ncb.h"
#include "tests/support/reference_layout.h"
#include "tests/powercut/tool_sweep.h"
#include "tests/support/files.h"
#include "tools/hlvimage/image_spec.h"

namespace hlv::test {
namespace {

// The seed of the sampled torn cuts.
constexpr uint64_t kSampledTornSeed = 3;

#ifdef HLV_SANITIZED_BUILD
// A run of the tool costs several times more under the sanitizers: the update that rearranges and
// reloads (the longest path) and the rollback, a point fewer of each kind.
constexpr ToolSample kSample{.lastCuts = 1, .drawnCuts = 1, .kills = 2};
std::vector<ToolRun> sampledRuns() {
  return {toolRun("type1_layout_update"), toolRun("rollback")};
}
#else
constexpr ToolSample kSample{};
std::vector<ToolRun> sampledRuns() {
  return toolRuns();
}
#endif

class SampledToolSweep : public ::testing::TestWithParam<ToolRun> {};

TEST_P(SampledToolSweep, APowerCutLeavesAWorkingFirmwareAndTheNextRunFinishesTheJob) {
  sweepToolPowerCuts(GetParam(), SweepDepth::kSampled, {}, kSample);
}

TEST_P(SampledToolSweep, ATornProgramOrEraseLeavesAWorkingFirmwareAndTheNextRunFinishesTheJob) {
  sweepToolPowerCuts(GetParam(), SweepDepth::kSampled, {.torn = true, .seed = kSampledTornSeed},
                     kSample);
}

TEST_P(SampledToolSweep, AKilledRunLeavesAWorkingFirmwareAndDoesNotBlockTheNextRun) {
  sweepToolKills(GetParam(), SweepDepth::kSampled, kSample);
}

INSTANTIATE_TEST_SUITE_P(Runs, SampledToolSweep, ::testing::ValuesIn(sampledRuns()),
                         [](const auto& info) { return info.param.name; });

// A lab whose adapter has both blocks active, as a rollback cut after it activated NCB1 and before
// it deactivated NCB0 leaves it: readers take NCB0, and a rollback activates NCB1.
LabSpec bothActiveLab() {
  LabSpec lab = toolRun("rollback").lab();
  LabAdapter& adapter = lab.adapters[0];
  adapter.flash = image::bothActiveFlashSpec(adapter.running, adapter.previous);
  return lab;
}

// A rollback cut while it rewrote the previous block's first sector leaves the flash running the
// firmware it ran, without the block to return to. The next `-r` run finds the journal the cut run
// wrote before it touched the flash, and finishes the rollback from the backup it names exactly as
// the uninterrupted run, passing over a newer-looking backup no journal names.
TEST(ResumedToolRollback, TheNextRunFinishesARollbackCutWhileItRewroteThePreviousBlock) {
  struct Case {
    const char* what;
    LabSpec (*lab)();
    std::string cut;  // adapter.conf lines
  };
  const Case cases[] = {
      {"cut after the erase", toolRun("rollback").lab, "power_cut_after = 1\n"},
      {"torn while its body is programmed", toolRun("rollback").lab,
       "power_cut_after = 4\npower_cut_torn = yes\nseed = 5\n"},
      {"torn during the erase", toolRun("rollback").lab,
       "power_cut_after = 1\npower_cut_torn = yes\nseed = 2\n"},
      // The active NCB1 is deactivated in place first, then its first sector erased.
      {"both blocks active, cut after the erase", bothActiveLab, "power_cut_after = 2\n"},
      {"both blocks active, torn during the erase", bothActiveLab,
       "power_cut_after = 2\npower_cut_torn = yes\nseed = 2\n"},
  };
  const RunOptions rollback{.args = {"-r", "-a", "enp1s0"}, .input = "y\ny\n"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir directory;
    Lab lab(directory, c.lab());
    const std::vector<uint8_t> before = lab.flashBefore(0);
    const FlashReading running = readAsReader(before);
    lab.setAddedConf(0, c.cut);
    lab.run(rollback);
    const std::string cutRun = lab.logDirectory();
    const std::vector<uint8_t> left = lab.flashAfter(0);
    const FlashReading reading = readAsReader(left);
    ASSERT_TRUE(reading.usable) << reading.problem;
    EXPECT_EQ(reading.version, running.version);
    ASSERT_TRUE(otherBlockChanged(left, before, running.activeAddress))
        << "the cut left the previous block as it was";

    // A backup no journal names, in a directory whose name says it is newer: never read.
    const std::string stray = lab.root() + "/tool/logs/29991231_23-59-59/image_enp1s0_rollback.bin";
    std::filesystem::create_directories(std::filesystem::path(stray).parent_path());
    writeBinaryFile(stray, referenceRollback(before));

    lab.setAddedConf(0, "");
    const ProcessResult again = lab.run(rollback);
    EXPECT_EQ(again.exitStatus, 0) << again.out << again.err;
    const std::string cutBackup =
        std::filesystem::path(cutRun).parent_path().filename().native() +
        "/image_enp1s0_rollback.bin' \n";
    const std::size_t found = again.out.find(kInterruptedRollbackFound);
    ASSERT_NE(found, std::string::npos) << again.out;
    const std::size_t end = again.out.find('\n', found);
    EXPECT_TRUE(again.out.substr(0, end + 1).ends_with(cutBackup)) << again.out;
    EXPECT_NE(again.out.find(rollbackQuestion(running.version, lab.spec().adapters[0].previous)),
              std::string::npos)
        << again.out;
    EXPECT_TRUE(lab.flashAfter(0) == referenceRollback(before));
  }
}

// Only the backup the cut rollback's journal names may finish it: with that file gone, emptied
// (as a power cut can leave a file that was never flushed) or changed, the next run stops as it
// would without any backup, and leaves the flash as the cut left it, even where an older
// rollback's journal and backup of the same adapter are still in the logs.
TEST(ResumedToolRollback, WithoutTheBackupItsJournalNamesTheRollbackStops) {
  struct Case {
    const char* what;
    void (*spoil)(const std::string& backup);
  };
  const Case cases[] = {
      {"the backup removed", [](const std::string& b) { std::filesystem::remove(b); }},
      {"the backup emptied", [](const std::string& b) { std::filesystem::resize_file(b, 0); }},
      {"a byte of the backup changed",
       [](const std::string& b) {
         std::vector<uint8_t> bytes = readBinaryFile(b);
         bytes[0x10] ^= 0x01;
         writeBinaryFile(b, bytes);
       }},
  };
  const RunOptions rollback{.args = {"-r", "-a", "enp1s0"}, .input = "y\ny\n"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir directory;
    Lab lab(directory, toolRun("rollback").lab());
    const std::vector<uint8_t> before = lab.flashBefore(0);
    // A whole rollback and its return: two journals and backups of this adapter in the logs.
    ASSERT_EQ(lab.run(rollback).exitStatus, 0);
    ASSERT_EQ(lab.run(rollback).exitStatus, 0);
    ASSERT_TRUE(lab.flashAfter(0) == before);
    lab.setAddedConf(0, "power_cut_after = 1\n");
    lab.run(rollback);
    const std::vector<uint8_t> left = lab.flashAfter(0);
    ASSERT_TRUE(left != before);
    c.spoil(lab.logDirectory() + "image_enp1s0_rollback.bin");

    lab.setAddedConf(0, "");
    const ProcessResult again = lab.run(rollback);
    EXPECT_EQ(again.exitStatus, 2) << again.out << again.err;
    EXPECT_NE(again.out.find(kNoPreviousFirmware), std::string::npos) << again.out;
    EXPECT_TRUE(lab.flashAfter(0) == left);
  }
}

}  // namespace
}  // namespace hlv::test
