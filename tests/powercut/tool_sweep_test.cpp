// The whole tool through `hlvsim run` on a spread of cut and kill points, in every build.
#include <gtest/gtest.h>

#include "tests/powercut/tool_sweep.h"

namespace hlv::test {
namespace {

// The seed of the sampled torn cuts.
constexpr uint64_t kSampledTornSeed = 3;

class SampledToolSweep : public ::testing::TestWithParam<ToolRun> {};

TEST_P(SampledToolSweep, APowerCutLeavesAWorkingFirmwareAndTheNextRunFinishesTheJob) {
  sweepToolPowerCuts(GetParam(), SweepDepth::kSampled);
}

TEST_P(SampledToolSweep, ATornProgramOrEraseLeavesAWorkingFirmwareAndTheNextRunFinishesTheJob) {
  sweepToolPowerCuts(GetParam(), SweepDepth::kSampled, {.torn = true, .seed = kSampledTornSeed});
}

TEST_P(SampledToolSweep, AKilledRunLeavesAWorkingFirmwareAndDoesNotBlockTheNextRun) {
  sweepToolKills(GetParam(), SweepDepth::kSampled);
}

INSTANTIATE_TEST_SUITE_P(Runs, SampledToolSweep, ::testing::ValuesIn(toolRuns()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace hlv::test
