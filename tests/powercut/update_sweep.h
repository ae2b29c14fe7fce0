// The update's and the rollback's promise, tried at every step: a power cut after any program
// or erase command, or a failed or wrong program, erase or read, never leaves the flash without
// an active, valid block over intact components, and the next run completes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/engine/update_harness.h"

namespace hlv::test {

enum class SweepDepth : uint8_t {
  kSampled,  // a spread of the steps, for every build
  kEvery,    // every step
};

// Failures reported per sweep before the rest are only counted.
inline constexpr int kReportedFailures = 8;

// Collects a sweep's failures: the first few are reported in full, the rest counted.
class FailureLog {
 public:
  explicit FailureLog(std::string sweep) : sweep_(std::move(sweep)) {}
  ~FailureLog() {
    if (count_ > kReportedFailures)
      ADD_FAILURE() << sweep_ << ": " << count_ - kReportedFailures << " more failures";
  }
  void fail(const std::string& what) {
    if (++count_ <= kReportedFailures) ADD_FAILURE() << sweep_ << ": " << what;
  }
  int count() const { return count_; }

 private:
  std::string sweep_;
  int count_ = 0;
};

// How many seeds a full torn sweep tries per cut point: HLV_TORN_SEEDS, or `byDefault`.
uint64_t tornSeedCount(uint64_t byDefault);

// Where a power cut strikes: right after a program or erase command has taken effect, or while
// it runs, leaving it partly done (a page with only some of its bits programmed, a unit partly
// erased and the rest kept or garbled), drawn from a seed.
struct PowerCut {
  bool torn = false;
  uint64_t seed = 1;
};

// Runs the case once uninterrupted (its result must be usable with the new version), then once
// per chosen N with the power cut right after the N-th program or erase command: the flash left
// behind must be usable with the old or the new version, and after power comes back the update
// must complete. When the flash left behind still runs the old firmware from the block the
// uninterrupted run started from, the final flash must equal the uninterrupted run's.
void sweepPowerCuts(const UpdateCase& updateCase, uint32_t jedecId, SweepDepth depth,
                    PowerCut cut = {});

// Runs the case once per chosen call with that call failing (once, and from then on), or
// programming or reading a wrong byte: the status may be anything, but the flash left behind
// must be usable, success must mean the new version, and a clean update afterwards completes.
void sweepFaults(const UpdateCase& updateCase, uint32_t jedecId, SweepDepth depth);

// The rollback's promise, tried the same way on a flash an update left (`flash`): after a
// power cut anywhere, or a failed or wrong flash access, readers take an active, valid block
// over intact components with the firmware that ran before the rollback or the one it brings
// back; a rollback run again afterwards either completes (the firmware readers take switches,
// exactly as the layout's rules say) or refuses (24) without changing anything. The
// uninterrupted rollback must leave what those rules say.
void sweepRollbackPowerCuts(const std::vector<uint8_t>& flash, uint32_t jedecId, SweepDepth depth,
                            PowerCut cut = {});
void sweepRollbackFaults(const std::vector<uint8_t>& flash, uint32_t jedecId, SweepDepth depth);

// One sweep: a starting layout (by its case name) on a flash part.
struct SweepParam {
  std::string caseName;
  uint32_t jedecId;
};

// Every starting layout of the update, and both blocks a rollback starts from, on a 2 MiB part,
// a 4 MiB part and a part with 512-byte pages and a split first erase unit.
std::vector<SweepParam> everyUpdateSweepParam();
std::vector<SweepParam> everyRollbackSweepParam();

void PrintTo(const SweepParam& param, std::ostream* out);
std::string sweepParamName(const ::testing::TestParamInfo<SweepParam>& info);

}  // namespace hlv::test
