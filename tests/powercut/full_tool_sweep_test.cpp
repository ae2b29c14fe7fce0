// The whole tool through `hlvsim run` with a power cut after every program or erase command of
// its run, with every command torn under several seeds (HLV_TORN_SEEDS, 2 by default), and killed
// at a fine spread of points of its run.
#include <gtest/gtest.h>

#include "tests/powercut/tool_sweep.h"

namespace hlv::test {
namespace {

class FullToolSweep : public ::testing::TestWithParam<ToolRun> {};

TEST_P(FullToolSweep, APowerCutAfterEveryCommand) {
  sweepToolPowerCuts(GetParam(), SweepDepth::kEvery);
}

TEST_P(FullToolSweep, EveryCommandTornUnderEverySeed) {
  for (uint64_t seed = 1; seed <= tornSeedCount(2); ++seed)
    sweepToolPowerCuts(GetParam(), SweepDepth::kEvery, {.torn = true, .seed = seed});
}

TEST_P(FullToolSweep, KilledAtEveryPointOfAFineSpread) {
  sweepToolKills(GetParam(), SweepDepth::kEvery);
}

INSTANTIATE_TEST_SUITE_P(Runs, FullToolSweep, ::testing::ValuesIn(toolRuns()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace hlv::test
