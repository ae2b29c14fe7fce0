// The whole tool through `hlvsim run` on a spread of cut and kill points, in every build.
#include <gtest/gtest.h>

#include <vector>

#include "tests/powercut/tool_sweep.h"

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

}  // namespace
}  // namespace hlv::test
