// What a test bench asserts when it is torn down: the emulated adapter counted no protocol
// violation (other than those of the kinds the test provokes on purpose) and no access to a
// register no block claims.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/emulated_adapter.h"

namespace hlv::test {

inline void expectCleanRegisterTraffic(const sim::EmulatedAdapter& adapter,
                                       const std::string& where,
                                       const std::vector<sim::Violation>& provoked = {}) {
  const sim::AdapterStats stats = adapter.stats();
  for (std::size_t i = 0; i < sim::kViolationKinds; ++i) {
    const auto kind = static_cast<sim::Violation>(i);
    if (std::find(provoked.begin(), provoked.end(), kind) != provoked.end()) continue;
    EXPECT_EQ(stats.count(kind), 0u) << where << ": violations_" << sim::violationName(kind);
  }
  EXPECT_EQ(stats.unclaimedAccesses, 0u) << where << ": accesses to unclaimed registers";
}

}  // namespace hlv::test
