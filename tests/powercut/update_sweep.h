// The update's promise, tried at every step: a power cut after any program or erase command,
// or a failed or wrong program, erase or read, never leaves the flash without an active, valid
// block over intact components, and the next update completes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "tests/engine/update_harness.h"

namespace hlv::test {

enum class SweepDepth : uint8_t {
  kSampled,  // a spread of the steps, for every build
  kEvery,    // every step
};

// Runs the case once uninterrupted (its result must be usable with the new version), then once
// per chosen N with the power cut right after the N-th program or erase command: the flash left
// behind must be usable with the old or the new version, and after power comes back the update
// must complete. When the flash left behind still runs the old firmware from the block the
// uninterrupted run started from, the final flash must equal the uninterrupted run's.
void sweepPowerCuts(const UpdateCase& updateCase, uint32_t jedecId, SweepDepth depth);

// Runs the case once per chosen call with that call failing (once, and from then on), or
// programming or reading a wrong byte: the status may be anything, but the flash left behind
// must be usable, success must mean the new version, and a clean update afterwards completes.
void sweepFaults(const UpdateCase& updateCase, uint32_t jedecId, SweepDepth depth);

// One sweep: a starting layout (by its case name) on a flash part.
struct SweepParam {
  std::string caseName;
  uint32_t jedecId;
};

void PrintTo(const SweepParam& param, std::ostream* out);
std::string sweepParamName(const ::testing::TestParamInfo<SweepParam>& info);

}  // namespace hlv::test
