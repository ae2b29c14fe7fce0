// A short soak (a few hundred runs of the tool over fixed seeds), and the runs in which earlier
// soaks found an invariant broken, each replayed on the lab it broke on and judged the same way.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "tests/soak/soak_driver.h"

namespace hlv::test::soak {
namespace {

#ifdef HLV_SANITIZED_BUILD
// A run of the tool costs ten times more under the sanitizers (about 2 s of CPU).
constexpr uint64_t kRunsPerSeed = 10;
constexpr uint64_t kSeeds[] = {1};
#else
constexpr uint64_t kRunsPerSeed = 70;
constexpr uint64_t kSeeds[] = {1, 2, 3};
#endif

TEST(ShortSoak, EveryRunLeavesEveryAdapterWorkingAndTheRunsAfterFaultsFinishTheJob) {
  SoakFigures total;
  for (uint64_t seed : kSeeds) {
    SoakOptions options;
    options.seed = seed;
    options.steps = kRunsPerSeed;
    options.adapters = 3;
    options.largeParts = seed % 2 == 0;
    options.quietEvery = 30;
    total.add(runSoak(options));
  }
  std::cout << total.summary();
  for (const std::string& broken : total.breaks)
    ADD_FAILURE() << broken;
}

// A run a soak found an invariant broken in: the lab, and the runs from the one that set the
// flash up to the one that broke.
struct Finding {
  const char* what;  // the seed and run it was found at, and what broke
  std::vector<AdapterPlan> adapters;
  std::vector<ScriptedRun> runs;
};

void PrintTo(const Finding& finding, std::ostream* out) {
  *out << finding.what;
}

const std::vector<Finding>& findings() {
  static const std::vector<Finding> rows = {
      // An update cut while it wrote the bank of the previous block leaves that block whole over
      // components that are gone; the rollback table offered it (with a version read from what
      // the update had written), and the rollback refused it only once confirmed and backed up.
      {"seed 7, run 62: a previous block over a half-rewritten bank was offered",
       {adapterOn("EF6015", true, StartLayout::kFresh)},
       {{.action = Action::kSilentAll, .bundle = 1},
        {.action = Action::kSilentAll, .bundle = 2},
        // Bundle 4 has the components of bundle 1, now the previous block's, in the same places:
        // cut once they are written, the bank holds its components and the previous block reads
        // as firmware 1.6.4.
        {.action = Action::kSilentAll,
         .bundle = 4,
         .faults = {scriptedFault(FaultKind::kPowerCut, 0, "power_cut_after = 44\n")}},
        {.action = Action::kRollbackName, .adapter = 0}}},
      // Both blocks active (a rollback cut between its two block writes): the next rollback
      // first clears the previous block's state bits in place, a program before any erase, which
      // a part still protected ignored; only erases unprotected the part.
      {"seed 1, run 39: a rollback from both blocks active failed on a protected part",
       {adapterOn("EF6015 protected", false, StartLayout::kBothActive)},
       {{.action = Action::kRollbackName, .adapter = 0}}},
      // The firmware reload of interface 2 releases at once the semaphore the halting firmware
      // takes; a firmware that was using the bus then still had a frame running, and the
      // reload's first frame wrote into its registers.
      {"seed 30, run 29: the reload touched the MDIO registers while the firmware's frame ran",
       {adapterOn("EF6015", false, StartLayout::kFresh,
                  "firmware = 2\nfirmware_mdio_every_us = 1000\nfirmware_mdio_seed = 159\n")},
       {{.action = Action::kSilentAll, .bundle = 1},
        {.action = Action::kSilentAll, .bundle = 2},
        {.action = Action::kSilentAll, .bundle = 3}}},
      // The rollback's erase of NCB0's first sector, NCB1 current, torn at bit level: NCB0's
      // state bits (0b00) read active over a half-erased sector, and readers take it. The next
      // rollback took NCB0 for the current block and refused the backup its journal names.
      {"bit-level tear sweep, rollback from NCB1, command 1: the next rollback did not finish it",
       {adapterOn("EF6015", true, StartLayout::kUpdated)},
       {{.action = Action::kRollbackName,
         .faults = {scriptedFault(FaultKind::kTornCutBits, 0,
                                  "power_cut_after = 1\npower_cut_torn = yes\nseed = 8\n"
                                  "torn_erase = bits\n")}},
        {.action = Action::kRollbackName}}},
  };
  return rows;
}

class SoakFinding : public ::testing::TestWithParam<Finding> {};

TEST_P(SoakFinding, NoLongerBreaksAnInvariant) {
#ifdef HLV_SANITIZED_BUILD
  // Each fault these rows found has unit tests of its own, which the sanitizers do see.
  GTEST_SKIP() << "whole-tool replays are left to the plain build";
#endif
  const Finding& finding = GetParam();
  const SoakFigures figures = replay(labOf(finding.adapters), finding.runs,
                                     std::getenv("HLV_SOAK_OUTPUT") ? &std::cout : nullptr);
  for (const std::string& broken : figures.breaks)
    ADD_FAILURE() << broken;
}

INSTANTIATE_TEST_SUITE_P(Rows, SoakFinding, ::testing::ValuesIn(findings()),
                         [](const auto& info) { return "found_" + std::to_string(info.index); });

}  // namespace
}  // namespace hlv::test::soak
