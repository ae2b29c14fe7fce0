// Power cuts in the middle of every program and erase of the update and the rollback, each
// torn under several seeds, for every starting layout, on a 2 MiB part, a 4 MiB part and a part
// with 512-byte pages. HLV_TORN_SEEDS=N tries N seeds per cut point (3 by default).
#include <gtest/gtest.h>

#include "tests/powercut/update_sweep.h"

namespace hlv::test {
namespace {

class FullTornUpdateSweep : public ::testing::TestWithParam<SweepParam> {};

TEST_P(FullTornUpdateSweep, EveryCommandTornUnderEverySeed) {
  for (uint64_t seed = 1; seed <= tornSeedCount(3); ++seed) {
    sweepPowerCuts(sweepCase(GetParam().caseName), GetParam().jedecId, SweepDepth::kEvery,
                   {.torn = true, .seed = seed});
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FullTornUpdateSweep, ::testing::ValuesIn(everyUpdateSweepParam()),
                         sweepParamName);

class FullTornRollbackSweep : public ::testing::TestWithParam<SweepParam> {};

TEST_P(FullTornRollbackSweep, EveryCommandTornUnderEverySeed) {
  for (uint64_t seed = 1; seed <= tornSeedCount(3); ++seed) {
    sweepRollbackPowerCuts(sweepCase(GetParam().caseName).flash, GetParam().jedecId,
                           SweepDepth::kEvery, {.torn = true, .seed = seed});
  }
}

INSTANTIATE_TEST_SUITE_P(Flashes, FullTornRollbackSweep, ::testing::ValuesIn(everyRollbackSweepParam()),
                         sweepParamName);

}  // namespace
}  // namespace hlv::test
