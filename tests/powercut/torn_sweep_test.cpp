// Power cuts in the middle of every program and erase of the update and the rollback, each
// torn under several seeds, for every starting layout, on a 2 MiB part, a 4 MiB part and a part
// with 512-byte pages. HLV_TORN_SEEDS=N tries N seeds per cut point (3 by default).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/powercut/update_sweep.h"

namespace hlv::test {
namespace {

uint64_t seedCount() {
  const char* text = std::getenv("HLV_TORN_SEEDS");
  if (text == nullptr) return 3;
  const uint64_t count = std::strtoull(text, nullptr, 10);
  return count == 0 ? 1 : count;
}

class FullTornUpdateSweep : public ::testing::TestWithParam<SweepParam> {};

TEST_P(FullTornUpdateSweep, EveryCommandTornUnderEverySeed) {
  for (uint64_t seed = 1; seed <= seedCount(); ++seed) {
    sweepPowerCuts(sweepCase(GetParam().caseName), GetParam().jedecId, SweepDepth::kEvery,
                   {.torn = true, .seed = seed});
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FullTornUpdateSweep, ::testing::ValuesIn(everyUpdateSweepParam()),
                         sweepParamName);

class FullTornRollbackSweep : public ::testing::TestWithParam<SweepParam> {};

TEST_P(FullTornRollbackSweep, EveryCommandTornUnderEverySeed) {
  for (uint64_t seed = 1; seed <= seedCount(); ++seed) {
    sweepRollbackPowerCuts(sweepCase(GetParam().caseName).flash, GetParam().jedecId,
                           SweepDepth::kEvery, {.torn = true, .seed = seed});
  }
}

INSTANTIATE_TEST_SUITE_P(Flashes, FullTornRollbackSweep, ::testing::ValuesIn(everyRollbackSweepParam()),
                         sweepParamName);

}  // namespace
}  // namespace hlv::test
