// The whole tool through `hlvsim run` on a spread of cut and kill points, in every build.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "shared/halvern_ncb.h"
#include "tests/engine/reference_layout.h"
#include "tests/powercut/tool_sweep.h"
#include "tests/support/files.h"

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

// A rollback cut while it rewrote the previous block's first sector (its first command erases
// that sector) leaves the flash running the firmware it ran, without the block to return to. The
// next `-r` run finds the backup the cut run saved, passing over a newer one of another flash
// state, and finishes the rollback exactly as the uninterrupted run.
TEST(ResumedToolRollback, TheNextRunFinishesARollbackCutWhileItRewroteThePreviousBlock) {
  struct Case {
    const char* what;
    std::string cut;  // adapter.conf lines
  };
  const Case cases[] = {
      {"cut after the erase", "power_cut_after = 1\n"},
      {"torn while its body is programmed", "power_cut_after = 4\npower_cut_torn = yes\nseed = 5\n"},
      {"torn during the erase", "power_cut_after = 1\npower_cut_torn = yes\nseed = 2\n"},
  };
  const ToolRun run = toolRun("rollback");
  const RunOptions rollback{.args = {"-r", "-a", "enp1s0"}, .input = "y\ny\n"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir directory;
    Lab lab(directory, run.lab());
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

    // A backup of the flash after a finished rollback: its running block is not this flash's.
    const std::string stale = lab.root() + "/tool/logs/29991231_23-59-59/image_enp1s0_rollback.bin";
    std::filesystem::create_directories(std::filesystem::path(stale).parent_path());
    writeBinaryFile(stale, referenceRollback(before));

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

}  // namespace
}  // namespace hlv::test
