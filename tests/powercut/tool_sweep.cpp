#include "tests/powercut/tool_sweep.h"

#include <algorithm>
#include <csignal>
#include <random>
#include <set>
#include <stdexcept>

#include "shared/halvern_ncb.h"
#include "tests/support/expected_output.h"
#include "tests/support/operator_texts.h"
#include "tests/support/reference_layout.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hlvsim_lab.h"

namespace hlv::test {
namespace {

constexpr FirmwareVersion kOld{1, 5, 90};
constexpr FirmwareVersion kNew{1, 6, 2};
constexpr FirmwareVersion kBeforeUpdate{1, 5, 86};

// The seed kill points are drawn from, and the kill points of a full sweep.
constexpr uint64_t kKillDrawSeed = 11;
constexpr uint64_t kEveryKill = 300;

LabSpec typeOneUpdateLab() {
  LabSpec lab;
  lab.adapters = {typeOneLayoutAdapter("enp1s0", kOld)};
  lab.adapters[0].image = "fw_20c3.bin";
  lab.images = {bundleImage("fw_20c3.bin", kNew)};
  lab.database = database(boardEntry("t1", 0x20C3, 0x1F70, 0x1028, "fw_20c3.bin"));
  return lab;
}

LabSpec typeTwoUpdateLab() {
  LabSpec lab;
  lab.adapters = {typeTwoDevice(typeTwoLayoutAdapter("enp1s0", kOld))};
  lab.adapters[0].image = "fw_21c3.bin";
  lab.images = {bundleImage("fw_21c3.bin", kNew, 0x21C3)};
  lab.database = database(boardEntry("t2", 0x21C3, 0x1F70, 0x1028, "fw_21c3.bin"));
  return lab;
}

LabSpec rollbackLab() {
  LabSpec lab = typeOneUpdateLab();
  lab.adapters = {updatedAdapter("enp1s0", kBeforeUpdate, kNew)};
  return lab;
}

RunOptions operatorRun(const ToolRun& run) {
  if (run.rollback) return {.args = {"-r", "-a", "enp1s0"}, .input = "y\ny\n"};
  return {.args = {"-s"}};
}

// `points` numbers drawn from 1..count (all of them when there are no more), in order.
std::set<uint64_t> drawPoints(uint64_t count, uint64_t points, uint64_t seed) {
  std::set<uint64_t> drawn;
  std::mt19937_64 random(seed);
  std::uniform_int_distribution<uint64_t> pick(1, count);
  while (drawn.size() < std::min(points, count))
    drawn.insert(pick(random));
  return drawn;
}

std::set<uint64_t> cutPoints(uint64_t commands, SweepDepth depth, PowerCut cut,
                             ToolSample sample) {
  std::set<uint64_t> points;
  if (depth == SweepDepth::kEvery) {
    for (uint64_t n = 1; n <= commands; ++n)
      points.insert(n);
    return points;
  }
  points = drawPoints(commands, sample.drawnCuts, cut.seed + (cut.torn ? 1 : 0));
  for (uint64_t n = commands; n > 0 && n + sample.lastCuts > commands; --n)
    points.insert(n);
  return points;
}

// The uninterrupted run: what the others are judged against.
struct Reference {
  std::vector<uint8_t> before;
  std::vector<uint8_t> result;
  FirmwareVersion from;  // the firmware readers take before the run
  FirmwareVersion to;    // and after it
  uint64_t modifyingCommands = 0;
  uint64_t virtualUs = 0;
};

// The adapter's counters after a run that wrote them: no protocol violation, no access to a
// register the adapter does not have.
void checkStats(const Lab& lab, FailureLog& log, const std::string& step) {
  const std::string stats = lab.stats(0);
  if (statValue(stats, "violations") != 0 || statValue(stats, "unclaimed_accesses") != 0)
    log.fail(step + ": the adapter saw violations or unclaimed accesses:\n" + stats);
}

Reference runReference(const ToolRun& run) {
  TempDir directory;
  Lab lab(directory, run.lab());
  const ProcessResult result = lab.run(operatorRun(run));
  EXPECT_EQ(result.exitStatus, 0) << run.name << ", uninterrupted:\n" << result.out << result.err;
  Reference reference;
  reference.before = lab.flashBefore(0);
  reference.result = lab.flashAfter(0);
  reference.from = lab.spec().adapters[0].running;
  std::vector<uint8_t> expected;
  if (run.rollback) {
    reference.to = lab.spec().adapters[0].previous;
    expected = referenceRollback(reference.before);
  } else {
    const BundleImage& image = lab.spec().images[0];
    reference.to = image.version();
    expected = referenceUpdate(reference.before, lab.imageBytes(image.file), macBytes(), phyBytes());
  }
  EXPECT_TRUE(reference.result == expected) << run.name << ": the uninterrupted run's flash";
  FailureLog log(run.name + ", uninterrupted");
  checkStats(lab, log, "the run");
  const std::string stats = lab.stats(0);
  reference.modifyingCommands = static_cast<uint64_t>(statValue(stats, "modifying_transfers"));
  reference.virtualUs = static_cast<uint64_t>(statValue(stats, "virtual_us"));
  // The sweep's extent, in the test report.
  ::testing::Test::RecordProperty("modifying_commands", std::to_string(reference.modifyingCommands));
  ::testing::Test::RecordProperty("virtual_us", std::to_string(reference.virtualUs));
  return reference;
}

// The flash is the uninterrupted run's, but for the state bits of the block readers do not take:
// a run cut between activating one block and deactivating the other leaves both active (readers
// take NCB0), which is safe, and what the run brings is what readers take.
bool sameButForOtherBlockState(const std::vector<uint8_t>& left, std::vector<uint8_t> result,
                               uint32_t activeAddress) {
  constexpr uint32_t kStateByte = 3;
  constexpr uint8_t kStateBits = 0xC0;
  const uint32_t other = otherBlockAddress(activeAddress) + kStateByte;
  if (left.size() != result.size() || other >= left.size()) return false;
  result[other] = static_cast<uint8_t>((result[other] & ~kStateBits) | (left[other] & kStateBits));
  return left == result;
}

// The last lines of a run's console, for a failure message.
std::string tail(const ProcessResult& result) {
  const std::string& out = result.out;
  std::size_t from = out.size();
  for (int lines = 0; lines < 6 && from > 0; ++lines)
    from = out.rfind('\n', from - 1) == std::string::npos ? 0 : out.rfind('\n', from - 1);
  return "status " + std::to_string(result.exitStatus) + ", signal " +
         std::to_string(result.signal) + ":\n" + out.substr(from) + result.err;
}

// Judges what an interrupted run left and runs the tool again on it, as the operator would
// after power comes back or after the kill: the same request, which either completes the job or
// finds it done (an update: the adapter runs the bundle's firmware, nothing to update, 2; a
// rollback: the adapter already runs the previous firmware, which the operator sees in the
// question and declines, 41). A rollback whose previous block the interruption left half
// rewritten is finished from the backup the interrupted run saved. `killed`: the run was killed
// and wrote no counters.
void judgeAndRerun(Lab& lab, const ToolRun& run, const Reference& reference,
                   const ProcessResult& interrupted, bool killed, FailureLog& log,
                   const std::string& step) {
  const std::vector<uint8_t> left = lab.flashAfter(0);
  if (interrupted.exitStatus == 0 && left != reference.result)
    log.fail(step + ": success reported, but the flash is not what the run leaves");
  const FlashReading reading = readAsReader(left);
  if (!reading.usable) {
    log.fail(step + ": the flash is broken: " + reading.problem);
    return;
  }
  if (reading.version != reference.from && reading.version != reference.to) {
    log.fail(step + ": the flash runs " + reading.version.toString());
    return;
  }
  if (!killed) checkStats(lab, log, step);
  const Lab::InstanceMarker marker = lab.instanceMarker();
  if (marker.held) log.fail(step + ": no live run, yet the marker is held");
  // The marker is taken before the run's clock starts: a killed run leaves it for the next.
  if (killed && !marker.exists) log.fail(step + ": the killed run left no marker to take over");

  const bool done = reading.version == reference.to;
  if (done && !sameButForOtherBlockState(left, reference.result, reading.activeAddress))
    log.fail(step + ": the flash runs the firmware the run brings, but differs from the "
                    "uninterrupted run's");
  lab.setAddedConf(0, "");
  RunOptions next = operatorRun(run);
  next.keepInstanceMarker = true;
  if (done && run.rollback) next.input = "y\nn\n";
  const ProcessResult again = lab.run(next);
  const std::string againStep = step + ", the next run";
  if (again.out.find(kAnotherInstance) != std::string::npos) {
    log.fail(againStep + " was refused as another instance");
    return;
  }
  checkStats(lab, log, againStep);
  if (lab.instanceMarker().exists) log.fail(againStep + " left its single-instance marker");
  const std::vector<uint8_t> after = lab.flashAfter(0);
  if (done) {
    const bool told = run.rollback
                          ? again.out.find(rollbackQuestion(reference.to, reference.from)) !=
                                std::string::npos
                          : again.out.find(kNothingToUpdate) != std::string::npos;
    if (!told || again.exitStatus != (run.rollback ? 41 : 2))
      log.fail(againStep + " did not find the job done: " + tail(again));
    if (after != left) log.fail(againStep + " changed the flash");
    return;
  }
  if (again.exitStatus != 0) log.fail(againStep + " failed: " + tail(again));
  const FlashReading finished = readAsReader(after);
  if (!finished.usable || finished.version != reference.to) {
    log.fail(againStep + " left " +
             (finished.usable ? finished.version.toString() : finished.problem));
    return;
  }
  if (run.rollback && again.out.find(kInterruptedRollbackFound) != std::string::npos) {
    // The interruption struck while the previous block's first sector was erased and written
    // again to activate it: the flash lost that block, and the next run finished the rollback
    // from the backup the interrupted run saved, as if nothing had happened.
    if (!otherBlockChanged(left, reference.before, reading.activeAddress))
      log.fail(againStep + " took a backup, though the flash kept its previous block");
    if (after != reference.result)
      log.fail(againStep + " finished from the backup, but differs from the uninterrupted run");
    return;
  }
  // From a flash the interruption left as it was, the job is done exactly as without it. A
  // rollback however it was cut ends with the very bytes of the uninterrupted one: the model's
  // rollback of the flash left is not enough, since a block whose head (imageTag, CRC) the cut
  // left half written is then taken for whole.
  if (left == reference.before && after != reference.result)
    log.fail(againStep + " differs from the uninterrupted run");
  if (run.rollback && after != reference.result)
    log.fail(againStep + " differs from the uninterrupted rollback");
}

}  // namespace

uint32_t otherBlockAddress(uint32_t activeAddress) {
  return activeAddress == kNcb0Address ? kNcb1Address : kNcb0Address;
}

bool otherBlockChanged(const std::vector<uint8_t>& left, const std::vector<uint8_t>& before,
                       uint32_t activeAddress) {
  const uint32_t other = otherBlockAddress(activeAddress);
  if (left.size() < other + kNcbBlockSize || before.size() < other + kNcbBlockSize) return true;
  return !std::equal(left.begin() + other, left.begin() + other + kNcbBlockSize,
                     before.begin() + other);
}

std::vector<ToolRun> toolRuns() {
  return {{"type1_layout_update", typeOneUpdateLab, false},
          {"type2_device_update", typeTwoUpdateLab, false},
          {"rollback", rollbackLab, true}};
}

ToolRun toolRun(const std::string& name) {
  for (const ToolRun& run : toolRuns()) {
    if (run.name == name) return run;
  }
  throw std::invalid_argument("no tool run named " + name);
}

void PrintTo(const ToolRun& run, std::ostream* out) {
  *out << run.name;
}

void sweepToolPowerCuts(const ToolRun& run, SweepDepth depth, PowerCut cut, ToolSample sample) {
  const Reference reference = runReference(run);
  ASSERT_GT(reference.modifyingCommands, 0u);
  FailureLog log(run.name + (cut.torn ? ", torn power cuts" : ", power cuts"));
  for (uint64_t n : cutPoints(reference.modifyingCommands, depth, cut, sample)) {
    const std::string step = std::string(cut.torn ? "cut during command " : "cut after command ") +
                             std::to_string(n) + " of " +
                             std::to_string(reference.modifyingCommands) +
                             (cut.torn ? " (seed " + std::to_string(cut.seed) + ")" : "");
    TempDir directory;
    Lab lab(directory, run.lab());
    lab.setAddedConf(0, "power_cut_after = " + std::to_string(n) + "\n" +
                            (cut.torn ? "power_cut_torn = yes\nseed = " +
                                            std::to_string(cut.seed) + "\n"
                                      : ""));
    const ProcessResult interrupted = lab.run(operatorRun(run));
    if (interrupted.signal != 0) {
      log.fail(step + ": the tool ended by signal " + std::to_string(interrupted.signal));
      continue;
    }
    judgeAndRerun(lab, run, reference, interrupted, false, log, step);
  }
}

void sweepToolKills(const ToolRun& run, SweepDepth depth, ToolSample sample) {
  const Reference reference = runReference(run);
  ASSERT_GT(reference.virtualUs, 0u);
  FailureLog log(run.name + ", kills");
  std::set<uint64_t> points;
  if (depth == SweepDepth::kEvery) {
    // Evenly spread over the run, the last just before its end.
    for (uint64_t k = 1; k <= kEveryKill; ++k)
      points.insert(reference.virtualUs * k / (kEveryKill + 1) + 1);
  } else {
    points = drawPoints(reference.virtualUs, sample.kills, kKillDrawSeed);
  }
  for (uint64_t at : points) {
    const std::string step = "killed at " + std::to_string(at) + " us of " +
                             std::to_string(reference.virtualUs);
    TempDir directory;
    Lab lab(directory, run.lab());
    lab.setAddedConf(0, "kill_at_us = " + std::to_string(at) + "\n");
    RunOptions options = operatorRun(run);
    options.keepInstanceMarker = true;
    const ProcessResult interrupted = lab.run(options);
    if (interrupted.signal != SIGKILL) {
      log.fail(step + ": the tool was not killed: " + tail(interrupted));
      continue;
    }
    judgeAndRerun(lab, run, reference, interrupted, true, log, step);
  }
}

}  // namespace hlv::test
