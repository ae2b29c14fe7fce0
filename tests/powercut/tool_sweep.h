// The whole tool's promise, tried through `hlvsim run` on a lab: a power cut after (or in the
// middle of) any program or erase command of a silent update or of a rollback, or a kill of the
// tool at any point of its run, leaves the adapter with an active, valid block over intact
// components running the firmware it ran or the one the run brings, and the next run of the tool
// finishes the job: it completes what was left, or finds it done.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/lab_scenario.h"
#include "tests/powercut/update_sweep.h"

namespace hlv::test {

// One run of the tool to interrupt: a lab of one adapter and what the operator asks of it.
struct ToolRun {
  std::string name;
  LabSpec (*lab)();
  bool rollback = false;  // `-r -a enp1s0`, confirmed; otherwise a silent update (`-s`)
};

// A silent update of a flash in the type-1 layout, which the update rearranges and whose
// firmware it reloads; a silent update of a type-2 model, which asks for a power cycle; a
// rollback of an updated adapter.
std::vector<ToolRun> toolRuns();
ToolRun toolRun(const std::string& name);

void PrintTo(const ToolRun& run, std::ostream* out);

// The points a sampled sweep tries: the last commands of the run (where it hands over to the
// new block) and a few drawn at random from a fixed seed, per kind of cut; kill points drawn from
// the run's virtual time. A full sweep tries every command and a fine, even spread of kills.
struct ToolSample {
  uint64_t lastCuts = 2;
  uint64_t drawnCuts = 2;
  uint64_t kills = 3;
};

// Runs the tool once uninterrupted (it must succeed and leave what the layout's rules say),
// counting the program and erase commands the adapter received; then once per chosen N with the
// power cut after (or, torn, during) the N-th of them, and again with power back.
void sweepToolPowerCuts(const ToolRun& run, SweepDepth depth, PowerCut cut = {},
                        ToolSample sample = {});

// Runs the tool once uninterrupted to learn how long its run lasts on the lab's virtual clock;
// then once per chosen point of that time with the tool killed there (SIGKILL: no teardown, the
// single-instance marker stays behind), and again as a second run that must not be blocked.
void sweepToolKills(const ToolRun& run, SweepDepth depth, ToolSample sample = {});

// The block readers do not take, when they take the one at activeAddress.
uint32_t otherBlockAddress(uint32_t activeAddress);

// Whether `left` holds the block readers do not take (they take the one at activeAddress)
// other than `before` held it: a rollback cut there had begun to rewrite its target.
bool otherBlockChanged(const std::vector<uint8_t>& left, const std::vector<uint8_t>& before,
                       uint32_t activeAddress);

}  // namespace hlv::test
