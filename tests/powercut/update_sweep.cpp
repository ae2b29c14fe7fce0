#include "tests/powercut/update_sweep.h"

#include <cstdio>
#include <cstdlib>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <sstream>

#include "engine/firmware_update.h"
#include "engine/rollback.h"
#include "tests/engine/flash_doubles.h"
#include "tests/support/reference_layout.h"

namespace hlv::test {

namespace {

std::string versionText(const FirmwareVersion& version) {
  return version.toString();
}

// The steps to try out of 1..count: every one, or the first and last few and a spread of
// about `spread` in between, with a stride that does not divide the usual unit counts so that
// it falls on erases, programs and block heads alike.
std::vector<uint64_t> chooseSteps(uint64_t count, SweepDepth depth, uint64_t spread) {
  std::set<uint64_t> steps;
  constexpr uint64_t kEnds = 3;
  if (depth == SweepDepth::kEvery || count <= spread + 2 * kEnds) {
    for (uint64_t n = 1; n <= count; ++n)
      steps.insert(n);
  } else {
    for (uint64_t n = 1; n <= kEnds; ++n) {
      steps.insert(n);
      steps.insert(count + 1 - n);
    }
    const uint64_t stride = std::max<uint64_t>(1, count / spread) | 1;
    for (uint64_t n = kEnds + 1; n <= count - kEnds; n += stride)
      steps.insert(n);
  }
  return {steps.begin(), steps.end()};
}

// Spreads of the sampled sweeps: power cuts fall anywhere, faults hit calls of one kind. Under the
// sanitizers (where a step costs several times more) half as many in between.
#ifdef HLV_SANITIZED_BUILD
constexpr uint64_t kCutSpread = 8;
constexpr uint64_t kFaultSpread = 3;
#else
constexpr uint64_t kCutSpread = 16;
constexpr uint64_t kFaultSpread = 6;
#endif

// The flash after an interruption: usable, with the old or the new firmware.
bool checkInterrupted(const FlashReading& reading, const UpdateCase& c, FailureLog& log,
                      const std::string& step) {
  if (!reading.usable) {
    log.fail(step + ": the flash is broken: " + reading.problem);
    return false;
  }
  if (reading.version != c.oldVersion && reading.version != c.newVersion) {
    log.fail(step + ": the flash runs " + versionText(reading.version));
    return false;
  }
  return true;
}

bool checkUpdated(FlashUpdateStatus status, const FlashReading& reading, FailureLog& log,
                  const std::string& step, const UpdateCase& c) {
  if (status != kStatusSuccess) {
    log.fail(step + ": the update after it gave " + std::to_string(statusNumber(status)));
    return false;
  }
  if (!reading.usable || reading.version != c.newVersion) {
    log.fail(step + ": the update after it left " +
             (reading.usable ? versionText(reading.version) : reading.problem));
    return false;
  }
  return true;
}

// Which of the two blocks are active (state bits 7:6 of byte 3: 0b10 or 0b01).
std::pair<bool, bool> activeBlocks(std::span<const uint8_t> flash) {
  const auto active = [&flash](uint32_t block) {
    const int state = flash[block + 3] >> 6;
    return state == 1 || state == 2;
  };
  return {active(0), active(0x4000)};
}

// How many calls of each kind an uninterrupted run made.
struct CallCounts {
  uint64_t writes = 0, erases = 0, reads = 0;
};

// The uninterrupted run: the reference for the others.
struct Reference {
  std::vector<uint8_t> result;
  std::pair<bool, bool> startActive;  // the blocks active before
  uint32_t startAddress = 0;          // the block readers took before
  FirmwareVersion startVersion;       // and the firmware it described
  uint64_t modifyingCommands = 0;
  CallCounts calls;
};

// Counts the calls of each kind and injects one fault.
class FaultyFlash : public VoFlashControlInterface {
 public:
  enum class Fault : uint8_t {
    kNone,
    kFailWrite,
    kFailErase,
    kWrongWriteFirst,
    kWrongWriteLast,
    kWrongRead
  };

  FaultyFlash(VoFlashControlInterface& inner, Fault fault, uint64_t at, bool lasting)
      : inner_(inner), fault_(fault), at_(at), lasting_(lasting) {
    copyGeometry(inner, *this);
  }

  bool init() override { return inner_.init(); }
  bool read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) override {
    const bool hit = strikes(Fault::kWrongRead, ++reads);
    const bool ok = inner_.read(address, buffer, length, bytesRead);
    if (ok && hit && length != 0) buffer[length / 2] ^= 0x10;
    return ok;
  }
  bool write(uint32_t address, const uint8_t* buffer, uint32_t length,
             uint32_t& bytesWritten) override {
    ++writes;
    if (strikes(Fault::kFailWrite, writes)) {
      bytesWritten = 0;
      return false;
    }
    const bool first = strikes(Fault::kWrongWriteFirst, writes);
    const bool last = strikes(Fault::kWrongWriteLast, writes);
    if ((first || last) && length != 0) {
      // The part reports success but one cell keeps a bit it should have cleared... or
      // clears one it should have kept: an inverted byte covers both.
      std::vector<uint8_t> altered(buffer, buffer + length);
      altered[first ? 0 : length - 1] ^= 0xFF;
      return inner_.write(address, altered.data(), length, bytesWritten);
    }
    return inner_.write(address, buffer, length, bytesWritten);
  }
  bool eraseSector(uint32_t address) override {
    if (strikes(Fault::kFailErase, ++erases)) return false;
    return inner_.eraseSector(address);
  }
  bool eraseBlock(uint32_t address) override {
    if (strikes(Fault::kFailErase, ++erases)) return false;
    return inner_.eraseBlock(address);
  }

  uint64_t reads = 0, writes = 0, erases = 0;

 private:
  bool strikes(Fault kind, uint64_t call) const {
    return fault_ == kind && (call == at_ || (lasting_ && call > at_));
  }

  VoFlashControlInterface& inner_;
  Fault fault_;
  uint64_t at_;
  bool lasting_;
};

// Runs `run` once per chosen call of each kind of fault, with a description of the step.
void forEachFault(const CallCounts& calls, SweepDepth depth,
                  const std::function<void(FaultyFlash::Fault, bool lasting, uint64_t at,
                                           const std::string& step)>& run) {
  using Fault = FaultyFlash::Fault;
  struct Kind {
    const char* name;
    Fault fault;
    bool lasting;
    uint64_t calls;
  };
  const Kind kinds[] = {
      {"failed program", Fault::kFailWrite, false, calls.writes},
      {"program failing from then on", Fault::kFailWrite, true, calls.writes},
      {"failed erase", Fault::kFailErase, false, calls.erases},
      {"erase failing from then on", Fault::kFailErase, true, calls.erases},
      {"wrong first byte programmed", Fault::kWrongWriteFirst, false, calls.writes},
      {"wrong first bytes programmed from then on", Fault::kWrongWriteFirst, true, calls.writes},
      {"wrong last byte programmed", Fault::kWrongWriteLast, false, calls.writes},
      {"wrong byte read", Fault::kWrongRead, false, calls.reads},
  };
  for (const Kind& kind : kinds) {
    for (uint64_t at : chooseSteps(kind.calls, depth, kFaultSpread)) {
      run(kind.fault, kind.lasting, at,
          std::string(kind.name) + " at call " + std::to_string(at) + " of " +
              std::to_string(kind.calls));
    }
  }
}

Reference runReference(const UpdateCase& c, uint32_t jedecId) {
  Reference reference;
  reference.startAddress = readAsReader(c.flash).activeAddress;
  reference.startVersion = readAsReader(c.flash).version;
  reference.startActive = activeBlocks(c.flash);
  UpdateBench bench(jedecId);
  bench.load(c.flash);
  const uint64_t before = bench.modifyingTransfers();
  FaultyFlash counter(bench.flash(), FaultyFlash::Fault::kNone, 0, false);
  const FlashUpdateStatus status = updateFirmware(counter, c.input());
  EXPECT_EQ(status, kStatusSuccess) << c.name << ": the uninterrupted update";
  EXPECT_EQ(bench.adapter().violations(), 0u) << c.name << ": the uninterrupted update";
  reference.result = bench.contents();
  reference.modifyingCommands = bench.modifyingTransfers() - before;
  reference.calls = {counter.writes, counter.erases, counter.reads};
  const FlashReading reading = readAsReader(reference.result);
  EXPECT_TRUE(reading.usable) << c.name << ": " << reading.problem;
  EXPECT_EQ(reading.version, c.newVersion) << c.name;
  return reference;
}

// The interrupted run left the flash where the uninterrupted one started from, as far as the
// update can tell: the same blocks active and the old firmware in the block readers take. The
// update after it then has to do exactly what the uninterrupted one did.
bool sameStart(const FlashReading& left, std::span<const uint8_t> leftFlash,
               const Reference& reference) {
  return left.version == reference.startVersion && left.activeAddress == reference.startAddress &&
         activeBlocks(leftFlash) == reference.startActive;
}

std::string sweepName(const UpdateCase& c, uint32_t jedecId, const char* what) {
  std::ostringstream name;
  name << c.name << " on part " << std::hex << jedecId << ", " << what;
  return name.str();
}

const char* cutsName(PowerCut cut) {
  return cut.torn ? "torn power cuts" : "power cuts";
}

std::string cutStep(PowerCut cut, uint64_t command, uint64_t commands) {
  return std::string(cut.torn ? "cut during command " : "cut after command ") +
         std::to_string(command) + " of " + std::to_string(commands) +
         (cut.torn ? " (seed " + std::to_string(cut.seed) + ")" : "");
}

void cutPower(UpdateBench& bench, PowerCut cut, uint64_t command) {
  if (cut.torn) {
    bench.cutPowerDuring(command, cut.seed);
  } else {
    bench.cutPowerAfter(command);
  }
}

}  // namespace

uint64_t tornSeedCount(uint64_t byDefault) {
  const char* text = std::getenv("HLV_TORN_SEEDS");
  if (text == nullptr) return byDefault;
  const uint64_t count = std::strtoull(text, nullptr, 10);
  return count == 0 ? 1 : count;
}

void sweepPowerCuts(const UpdateCase& c, uint32_t jedecId, SweepDepth depth, PowerCut how) {
  const Reference reference = runReference(c, jedecId);
  ASSERT_GT(reference.modifyingCommands, 0u);
  FailureLog log(sweepName(c, jedecId, cutsName(how)));
  for (uint64_t cut : chooseSteps(reference.modifyingCommands, depth, kCutSpread)) {
    const std::string step = cutStep(how, cut, reference.modifyingCommands);
    UpdateBench bench(jedecId);
    bench.load(c.flash);
    cutPower(bench, how, cut);
    const FlashUpdateStatus interrupted = updateFirmware(bench.flash(), c.input());
    if (cut < reference.modifyingCommands && interrupted == kStatusSuccess)
      log.fail(step + ": reported success");
    const std::vector<uint8_t> leftFlash = bench.contents();
    const FlashReading left = readAsReader(leftFlash);
    if (!checkInterrupted(left, c, log, step)) continue;

    bench.restart();
    const FlashUpdateStatus status = updateFirmware(bench.flash(), c.input());
    const std::vector<uint8_t> result = bench.contents();
    if (!checkUpdated(status, readAsReader(result), log, step, c)) continue;
    if (bench.adapter().violations() != 0) log.fail(step + ": protocol violations");
    if (sameStart(left, leftFlash, reference) && result != reference.result)
      log.fail(step + ": the update after it differs from the uninterrupted one");
  }
}

void sweepFaults(const UpdateCase& c, uint32_t jedecId, SweepDepth depth) {
  const Reference reference = runReference(c, jedecId);
  FailureLog log(sweepName(c, jedecId, "faults"));
  forEachFault(reference.calls, depth,
               [&](FaultyFlash::Fault fault, bool lasting, uint64_t at, const std::string& step) {
                 UpdateBench bench(jedecId);
                 bench.load(c.flash);
                 FlashUpdateStatus status = kStatusSuccess;
                 {
                   FaultyFlash faulty(bench.flash(), fault, at, lasting);
                   status = updateFirmware(faulty, c.input());
                 }
                 const FlashReading left = readAsReader(bench.contents());
                 if (!checkInterrupted(left, c, log, step)) return;
                 if (status == kStatusSuccess && left.version != c.newVersion)
                   log.fail(step + ": success reported, but the flash runs the old firmware");
                 if (bench.adapter().violations() != 0) log.fail(step + ": protocol violations");

                 bench.restart();
                 const FlashUpdateStatus again = updateFirmware(bench.flash(), c.input());
                 checkUpdated(again, readAsReader(bench.contents()), log, step, c);
               });
}

namespace {

// What a rollback must leave, and the two firmware versions a reader may find meanwhile.
struct RollbackReference {
  std::vector<uint8_t> result;
  FirmwareVersion before;  // the firmware readers take before the rollback
  FirmwareVersion after;   // the firmware it brings back
  uint64_t modifyingCommands = 0;
  CallCounts calls;
};

std::string rollbackName(const std::vector<uint8_t>& flash, uint32_t jedecId, const char* what) {
  std::ostringstream name;
  name << "rollback from the block at 0x" << std::hex << readAsReader(flash).activeAddress
       << " on part " << jedecId << ", " << what;
  return name.str();
}

RollbackReference runRollbackReference(const std::vector<uint8_t>& flash, uint32_t jedecId) {
  RollbackReference reference;
  reference.before = readAsReader(flash).version;
  UpdateBench bench(jedecId);
  bench.load(flash);
  const uint64_t before = bench.modifyingTransfers();
  FaultyFlash counter(bench.flash(), FaultyFlash::Fault::kNone, 0, false);
  EXPECT_EQ(rollbackToPreviousImage(counter), kStatusSuccess) << "the uninterrupted rollback";
  EXPECT_EQ(bench.adapter().violations(), 0u) << "the uninterrupted rollback";
  reference.result = bench.contents();
  reference.modifyingCommands = bench.modifyingTransfers() - before;
  reference.calls = {counter.writes, counter.erases, counter.reads};
  std::vector<uint8_t> expected =
      referenceRollback(std::vector<uint8_t>(flash.begin(), flash.end()));
  expected.resize(reference.result.size(), 0xFF);
  EXPECT_TRUE(reference.result == expected) << "the uninterrupted rollback differs from the model";
  const FlashReading reading = readAsReader(reference.result);
  EXPECT_TRUE(reading.usable) << reading.problem;
  reference.after = reading.version;
  EXPECT_NE(reference.after, reference.before);
  return reference;
}

bool checkRolledBackOrNot(const FlashReading& reading, const RollbackReference& reference,
                          FailureLog& log, const std::string& step) {
  if (!reading.usable) {
    log.fail(step + ": the flash is broken: " + reading.problem);
    return false;
  }
  if (reading.version != reference.before && reading.version != reference.after) {
    log.fail(step + ": the flash runs " + versionText(reading.version));
    return false;
  }
  return true;
}

// The rollback run again on what the interrupted one left: it switches the firmware readers
// take, exactly as the layout's rules say, or refuses because the block it would take is
// damaged, changing nothing.
void checkRerun(UpdateBench& bench, FailureLog& log, const std::string& step) {
  const std::vector<uint8_t> left = bench.contents();
  const FlashReading before = readAsReader(left);
  bench.adapter().resetStats();
  const FlashUpdateStatus status = rollbackToPreviousImage(bench.flash());
  const std::vector<uint8_t> result = bench.contents();
  const FlashReading after = readAsReader(result);
  if (bench.adapter().violations() != 0) log.fail(step + ": protocol violations in the rerun");
  if (!after.usable) {
    log.fail(step + ": the rerun left a broken flash: " + after.problem);
  } else if (status == kStatusSuccess) {
    if (result != referenceRollback(left))
      log.fail(step + ": the rerun differs from the model's rollback");
    if (after.version == before.version)
      log.fail(step + ": the rerun reported success but the firmware did not change");
  } else if (status == kStatusNcbInvalid) {
    if (result != left) log.fail(step + ": the refused rerun changed the flash");
  } else {
    log.fail(step + ": the rerun gave " + std::to_string(statusNumber(status)));
  }
}

}  // namespace

void sweepRollbackPowerCuts(const std::vector<uint8_t>& flash, uint32_t jedecId, SweepDepth depth,
                            PowerCut how) {
  const RollbackReference reference = runRollbackReference(flash, jedecId);
  ASSERT_GT(reference.modifyingCommands, 0u);
  FailureLog log(rollbackName(flash, jedecId, cutsName(how)));
  for (uint64_t cut : chooseSteps(reference.modifyingCommands, depth, kCutSpread)) {
    const std::string step = cutStep(how, cut, reference.modifyingCommands);
    UpdateBench bench(jedecId);
    bench.load(flash);
    cutPower(bench, how, cut);
    const FlashUpdateStatus interrupted = rollbackToPreviousImage(bench.flash());
    if (cut < reference.modifyingCommands && interrupted == kStatusSuccess)
      log.fail(step + ": reported success");
    if (!checkRolledBackOrNot(readAsReader(bench.contents()), reference, log, step)) continue;
    bench.restart();
    checkRerun(bench, log, step);
  }
}

void sweepRollbackFaults(const std::vector<uint8_t>& flash, uint32_t jedecId, SweepDepth depth) {
  const RollbackReference reference = runRollbackReference(flash, jedecId);
  FailureLog log(rollbackName(flash, jedecId, "faults"));
  forEachFault(reference.calls, depth,
               [&](FaultyFlash::Fault fault, bool lasting, uint64_t at, const std::string& step) {
                 UpdateBench bench(jedecId);
                 bench.load(flash);
                 FlashUpdateStatus status = kStatusSuccess;
                 {
                   FaultyFlash faulty(bench.flash(), fault, at, lasting);
                   status = rollbackToPreviousImage(faulty);
                 }
                 const FlashReading left = readAsReader(bench.contents());
                 if (!checkRolledBackOrNot(left, reference, log, step)) return;
                 if (status == kStatusSuccess && left.version != reference.after)
                   log.fail(step + ": success reported, but the flash runs the firmware it ran");
                 if (bench.adapter().violations() != 0) log.fail(step + ": protocol violations");
                 bench.restart();
                 checkRerun(bench, log, step);
               });
}

namespace {
constexpr uint32_t kEverySweepPart[] = {0xEF6015u, 0xEF4016u, 0x1F2700u};
}  // namespace

std::vector<SweepParam> everyUpdateSweepParam() {
  std::vector<SweepParam> params;
  for (uint32_t jedecId : kEverySweepPart) {
    for (const UpdateCase& c : sweepCases())
      params.push_back({c.name, jedecId});
  }
  return params;
}

std::vector<SweepParam> everyRollbackSweepParam() {
  std::vector<SweepParam> params;
  for (uint32_t jedecId : kEverySweepPart) {
    for (const char* name : {"type2_ncb0_active", "type2_ncb1_active"})
      params.push_back({name, jedecId});
  }
  return params;
}

void PrintTo(const SweepParam& param, std::ostream* out) {
  *out << param.caseName << " on part " << std::hex << param.jedecId;
}

std::string sweepParamName(const ::testing::TestParamInfo<SweepParam>& info) {
  char part[16];
  std::snprintf(part, sizeof part, "%X", info.param.jedecId);
  return info.param.caseName + "_" + part;
}

}  // namespace hlv::test
