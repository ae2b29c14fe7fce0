// A long random sequence of whole-tool runs (`hlvsim run`) on one lab of several emulated
// adapters, reproducible from one seed: silent updates to bundles that are newer, the same or
// older, interactive updates of one adapter, rollbacks, each possibly hit by one or two faults the
// lab can inject, the run after a fault included. After every run the flash of every adapter is
// read with the tests' own reference reader and the run is judged: a valid active block over
// intact components with a firmware the history allows, a previous block that is a valid
// rollback target or not offered, no hardware semaphore left held, every driver bound again, an
// exit status the operator's guide gives for what happened, whole backups and logs. At intervals
// the faults stop, and at most two runs must bring every adapter to the newest bundle's firmware.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/soak/soak_plan.h"

namespace hlv::test::soak {

struct SoakOptions {
  uint64_t seed = 1;
  uint64_t steps = 100;  // runs of the tool, those of the liveness checks included
  std::size_t adapters = 3;
  bool largeParts = true;     // 4 MiB parts in the lab's mix
  bool bitLevelTears = true;  // erases torn at bit level among the faults
  uint64_t quietEvery = 30;   // runs between two liveness checks
  // Each run, one line (what was asked, the faults, the exit status); null: none.
  std::ostream* log = nullptr;
  // The figures so far, after every liveness check that ends a stretch of `figuresEvery` runs
  // (0: only at the end), so that a soak stopped early still leaves them; null: none.
  std::ostream* figures = nullptr;
  uint64_t figuresEvery = 0;
  // Where the lab of a run that broke an invariant is kept, with the flashes before the run and
  // what was asked (empty: nowhere).
  std::string keepDirectory;
};

struct SoakFigures {
  uint64_t steps = 0;
  uint64_t faultedSteps = 0;
  std::array<uint64_t, kFaultKinds> faults{};
  uint64_t cutsThatStruck = 0;  // power cuts that struck a command before the run ended
  // The most runs in a row that hit one adapter with a fault, none breaking an invariant.
  uint64_t longestChain = 0;
  uint64_t livenessChecks = 0;
  uint64_t maxRunsToNewest = 0;  // the most runs a liveness check needed
  // Runs that left an adapter's active block broken, each from a cut that tore an erase at bit
  // level inside the window no write order can guard, by operation and command.
  std::map<std::string, uint64_t> windowHits;
  // Adapters left so by an update's cut: the tool cannot bring them back (no record names the
  // update's backup), so the liveness checks leave them out.
  uint64_t leftInWindow = 0;
  std::map<int, uint64_t> exitStatuses;  // -9: killed
  std::vector<std::string> breaks;       // the broken invariants, each with its run

  void add(const SoakFigures& other);
  std::string summary() const;
};

SoakFigures runSoak(const SoakOptions& options);

// What a run asks of the tool.
enum class Action : uint8_t {
  kSilentAll,          // -s
  kSilentOne,          // -s -a NAME
  kInteractiveNumber,  // the table, then the adapter's number
  kInteractiveName,    // -a NAME, confirmed
  kRollbackName,       // -r -a NAME, confirmed
  kRollbackNumber,     // -r, the adapter's number, confirmed
  kRollbackDeclined,   // -r -a NAME, not confirmed
  kTableOnly,          // the table, then q
};

// One run of a script: what is asked (of which adapter, for one-adapter actions), the bundle in
// the tool directory for an update (soakVersion(bundle)), and the faults armed.
struct ScriptedRun {
  Action action = Action::kSilentAll;
  std::size_t adapter = 0;
  uint32_t bundle = 0;
  std::vector<Fault> faults = {};
};

// Every program and erase command of one run of the tool cut in turn, the erase torn at bit level
// (one seed per program, `eraseSeeds` per erase), each cut judged as the soak judges its runs;
// where a cut left the block readers take broken, the same request is run again.
struct TearSweep {
  std::string operation;
  uint64_t commands = 0;  // program and erase commands of the uninterrupted run
  uint64_t cuts = 0;
  std::vector<std::string> breakingCuts;  // cuts that left the block readers take broken
  std::vector<std::string> unrecovered;   // those the next run did not repair
  SoakFigures figures;                    // of every run: the invariant breaks and the window hits
};
TearSweep sweepBitLevelTears(const std::string& operation, const AdapterPlan& adapter,
                             const ScriptedRun& run, uint64_t eraseSeeds);

// A fault of a script, armed by these adapter.conf lines.
Fault scriptedFault(FaultKind kind, std::size_t adapter, const std::string& conf);

// Runs the script on the lab, each run judged as the soak judges its runs, then the liveness
// check: the runs a soak found an invariant broken in, kept as a fixed case.
SoakFigures replay(const SoakLabPlan& lab, const std::vector<ScriptedRun>& runs,
                   std::ostream* log = nullptr);

}  // namespace hlv::test::soak
