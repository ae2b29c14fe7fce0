// The long soak: HLV_SOAK_STEPS runs (20000 by default) from HLV_SOAK_SEED (1 by default), the
// figures printed at the end. scripts/soak runs it.
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
  if (const char* keep = std::getenv("HLV_SOAK_KEEP"); keep != nullptr)
    options.keepDirectory = keep;
  const SoakFigures figures = runSoak(options);
  std::cout << "seed " << options.seed << "\n" << figures.summary();
  for (const std::string& broken : figures.breaks)
    ADD_FAILURE() << broken;
}

}  // namespace
}  // namespace hlv::test::soak
