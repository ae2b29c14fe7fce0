// The long soak: HLV_SOAK_STEPS runs (20000 by default) from HLV_SOAK_SEED (1 by default), the
// figures printed every HLV_SOAK_FIGURES_EVERY runs (1000 by default) and at the end. scripts/soak
// runs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "tests/soak/soak_driver.h"

namespace hlv::test::soak {
namespace {

uint64_t fromEnvironment(const char* name, uint64_t byDefault) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : byDefault;
}

TEST(LongSoak, EveryRunLeavesEveryAdapterWorkingAndTheRunsAfterFaultsFinishTheJob) {
  SoakOptions options;
  options.seed = fromEnvironment("HLV_SOAK_SEED", 1);
  options.steps = fromEnvironment("HLV_SOAK_STEPS", 20000);
  options.adapters = fromEnvironment("HLV_SOAK_ADAPTERS", 4);
  std::ofstream log;
  if (const char* path = std::getenv("HLV_SOAK_LOG"); path != nullptr && *path != '\0') {
    log.open(path);
    options.log = &log;
  }
  options.figures = &std::cout;
  options.figuresEvery = fromEnvironment("HLV_SOAK_FIGURES_EVERY", 1000);
  if (const char* keep = std::getenv("HLV_SOAK_KEEP"); keep != nullptr)
    options.keepDirectory = keep;
  const SoakFigures figures = runSoak(options);
  std::cout << "seed " << options.seed << "\n" << figures.summary();
  for (const std::string& broken : figures.breaks)
    ADD_FAILURE() << broken;
}

// Where a power cut that tears an erase at bit level breaks the flash: every program and erase
// command of each kind of run cut in turn (HLV_TEAR_SEEDS seeds per erase, 8 by default). No
// write order can keep a reader from taking NCB0 when the erase of its first sector is cut while
// NCB1 is the block readers take (its state bits, deactivated 0b00, may then read 0b01 or 0b10:
// active over a half-erased block); that is the only place such a cut may break the flash (the
// judge of each run fails any other), and the next rollback finishes a rollback cut there.
TEST(BitLevelTears, BreakOnlyWhereNcb0IsErasedWhileNcb1IsTheBlockReadersTake) {
  struct Operation {
    const char* name;
    AdapterPlan adapter;
    ScriptedRun run;
  };
  const ScriptedRun update{.action = Action::kSilentAll, .bundle = 1};
  const ScriptedRun rollback{.action = Action::kRollbackName};
  const std::vector<Operation> operations = {
      {"update, NCB0 current", adapterOn("EF6015", true, StartLayout::kNcb0Current), update},
      {"update, NCB1 current", adapterOn("EF6015", true, StartLayout::kUpdated), update},
      {"update, both active", adapterOn("EF6015", true, StartLayout::kBothActive), update},
      {"update of type-1 layout, free area A",
       adapterOn("EF6015", false, StartLayout::kTypeOneFreeA), update},
      {"update of type-1 layout, free area B",
       adapterOn("EF6015", false, StartLayout::kTypeOneFreeB), update},
      {"update of type-1 layout, NCB1 current, free area A",
       adapterOn("EF6015", false, StartLayout::kTypeOneNcb1FreeA), update},
      {"update of type-1 layout, NCB1 current, free area B",
       adapterOn("EF6015", false, StartLayout::kTypeOneNcb1FreeB), update},
      {"rollback, NCB0 current", adapterOn("EF6015", true, StartLayout::kNcb0Current), rollback},
      {"rollback, NCB1 current", adapterOn("EF6015", true, StartLayout::kUpdated), rollback},
      {"rollback, both active", adapterOn("EF6015", true, StartLayout::kBothActive), rollback},
  };
  const uint64_t eraseSeeds = fromEnvironment("HLV_TEAR_SEEDS", 8);
  for (const Operation& operation : operations) {
    const TearSweep sweep =
        sweepBitLevelTears(operation.name, operation.adapter, operation.run, eraseSeeds);
    std::cout << operation.name << ": " << sweep.commands << " commands, " << sweep.cuts
              << " cuts, " << sweep.breakingCuts.size() << " broke the flash, "
              << sweep.unrecovered.size() << " of them not repaired by the next run\n";
    for (const std::string& cut : sweep.breakingCuts)
      std::cout << "  " << cut << "\n";
    for (const auto& [where, hits] : sweep.figures.windowHits)
      std::cout << "  window: " << where << " x" << hits << "\n";
    for (const std::string& broken : sweep.figures.breaks)
      ADD_FAILURE() << operation.name << ": " << broken;
    if (std::string(operation.name).starts_with("rollback")) {
      for (const std::string& cut : sweep.unrecovered)
        ADD_FAILURE() << operation.name << ": the next rollback did not finish " << cut;
    }
  }
}

}  // namespace
}  // namespace hlv::test::soak
