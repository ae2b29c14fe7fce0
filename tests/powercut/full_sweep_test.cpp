// The update's and the rollback's promise at every step: every power-cut point and every faulty
// flash access, for every starting layout, on a 2 MiB part, a 4 MiB part and a part with
// 512-byte pages.
#include <gtest/gtest.h>

#include "tests/powercut/update_sweep.h"

namespace hlv::test {
namespace {

class FullUpdateSweep : public ::testing::TestWithParam<SweepParam> {};

TEST_P(FullUpdateSweep, EveryPowerCutPoint) {
  sweepPowerCuts(sweepCase(GetParam().caseName), GetParam().jedecId, SweepDepth::kEvery);
}

TEST_P(FullUpdateSweep, EveryFaultyFlashAccess) {
  sweepFaults(sweepCase(GetParam().caseName), GetParam().jedecId, SweepDepth::kEvery);
}

INSTANTIATE_TEST_SUITE_P(Cases, FullUpdateSweep, ::testing::ValuesIn(everyUpdateSweepParam()), sweepParamName);

class FullRollbackSweep : public ::testing::TestWithParam<SweepParam> {};

TEST_P(FullRollbackSweep, EveryPowerCutPoint) {
  sweepRollbackPowerCuts(sweepCase(GetParam().caseName).flash, GetParam().jedecId,
                         SweepDepth::kEvery);
}

TEST_P(FullRollbackSweep, EveryFaultyFlashAccess) {
  sweepRollbackFaults(sweepCase(GetParam().caseName).flash, GetParam().jedecId, SweepDepth::kEvery);
}

INSTANTIATE_TEST_SUITE_P(Flashes, FullRollbackSweep, ::testing::ValuesIn(everyRollbackSweepParam()),
                         sweepParamName);

}  // namespace
}  // namespace hlv::test
