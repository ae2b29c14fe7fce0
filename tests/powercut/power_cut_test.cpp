// The update's and the rollback's promise on a spread of steps, in every build.
#include <gtest/gtest.h>

#include "tests/powercut/update_sweep.h"

namespace hlv::test {
namespace {

// The seed of the sampled torn cuts; each cut point tears its command differently under it.
constexpr uint64_t kSampledTornSeed = 1;

std::vector<SweepParam> sampledParams() {
  std::vector<SweepParam> params;
  for (const UpdateCase& c : sweepCases())
    params.push_back({c.name, 0xEF6015});
  // A 4 MiB part and a part with 512-byte pages and a split first erase unit.
  params.push_back({"type2_ncb1_active", 0xEF4016});
  params.push_back({"row4_ncb0_active_free_a", 0xEF4016});
  params.push_back({"type2_ncb0_active", 0x1F2700});
  params.push_back({"row6_ncb1_active_free_b", 0x1F2700});
  return params;
}

class SampledUpdateSweep : public ::testing::TestWithParam<SweepParam> {};

TEST_P(SampledUpdateSweep, APowerCutNeverLeavesTheFlashBrokenAndTheNextUpdateCompletes) {
  sweepPowerCuts(sweepCase(GetParam().caseName), GetParam().jedecId, SweepDepth::kSampled);
}

TEST_P(SampledUpdateSweep, APowerCutInTheMiddleOfAProgramOrEraseNeverLeavesTheFlashBroken) {
  sweepPowerCuts(sweepCase(GetParam().caseName), GetParam().jedecId, SweepDepth::kSampled,
                 {.torn = true, .seed = kSampledTornSeed});
}

TEST_P(SampledUpdateSweep, AFailedOrWrongFlashAccessNeverLeavesTheFlashBroken) {
  sweepFaults(sweepCase(GetParam().caseName), GetParam().jedecId, SweepDepth::kSampled);
}

INSTANTIATE_TEST_SUITE_P(Cases, SampledUpdateSweep, ::testing::ValuesIn(sampledParams()),
                         sweepParamName);

// A rollback from each block on the 2 MiB part; power cuts also on a 4 MiB part and on a part
// with 512-byte pages and a split first erase unit.
std::vector<SweepParam> rollbackParams() {
  return {{"type2_ncb0_active", 0xEF6015}, {"type2_ncb1_active", 0xEF6015}};
}
std::vector<SweepParam> rollbackCutParams() {
  std::vector<SweepParam> params = rollbackParams();
  params.push_back({"type2_ncb1_active", 0xEF4016});
  params.push_back({"type2_ncb0_active", 0x1F2700});
  return params;
}

class SampledRollbackCuts : public ::testing::TestWithParam<SweepParam> {};

TEST_P(SampledRollbackCuts, APowerCutNeverLeavesTheFlashBrokenAndARerunCompletesOrRefuses) {
  sweepRollbackPowerCuts(sweepCase(GetParam().caseName).flash, GetParam().jedecId,
                         SweepDepth::kSampled);
}

TEST_P(SampledRollbackCuts, APowerCutInTheMiddleOfAProgramOrEraseNeverLeavesTheFlashBroken) {
  sweepRollbackPowerCuts(sweepCase(GetParam().caseName).flash, GetParam().jedecId,
                         SweepDepth::kSampled, {.torn = true, .seed = kSampledTornSeed});
}

class SampledRollbackFaults : public ::testing::TestWithParam<SweepParam> {};

TEST_P(SampledRollbackFaults, AFailedOrWrongFlashAccessNeverLeavesTheFlashBroken) {
  sweepRollbackFaults(sweepCase(GetParam().caseName).flash, GetParam().jedecId,
                      SweepDepth::kSampled);
}

INSTANTIATE_TEST_SUITE_P(Flashes, SampledRollbackCuts, ::testing::ValuesIn(rollbackCutParams()),
                         sweepParamName);
INSTANTIATE_TEST_SUITE_P(Flashes, SampledRollbackFaults, ::testing::ValuesIn(rollbackParams()),
                         sweepParamName);

}  // namespace
}  // namespace hlv::test
