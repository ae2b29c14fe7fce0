// The firmware side of the emulated adapter is as strict as its flash side: the firmware control
// sequences, written register by register from the register descriptions, end clean and well;
// each one changed in a single place (a step left out, two steps swapped, a write sent elsewhere
// or cut short) is noticed, by a violation of its kind or by what it leaves (a firmware that does
// not come back, a PHY that never reports ready, a PHY register left as it was).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "device/register_map.h"
#include "sim/emulated_adapter.h"
#include "tests/sim/raw_firmware.h"
#include "tests/support/adapter_rig.h"

namespace hlv::sim {
namespace {

constexpr uint32_t kVendor = MdioPhy::kVendorDevice;
constexpr uint16_t kRegister1000Bit3 = 0x8;

// The adapter rig driven step by step; the tests count the violations themselves.
struct Rig : test::AdapterRig {
  explicit Rig(const AdapterConfig& config)
      : AdapterRig(config, test::TrafficCheck::kCountedByTheTest), raw(adapter) {}

  test::RawFirmware raw;
  // What the sequence found and what its own waits saw.
  uint32_t phy = 0;
  uint32_t restartPhy = 0;  // where the PHY restart is sent
  uint32_t restartDevice = kVendor;
  bool resetDone = false;             // 0x704 bit 4 after the interface-1 reset
  bool phyReady = false;              // 0xC841 bit 6 after the PHY restart
  bool answered = false;              // the firmware answered after the global reset
  bool granted = false;               // the semaphore was granted
  std::vector<uint16_t> identifiers;  // PHY identifiers read
};

struct Step {
  std::string name;
  std::function<void(Rig&)> run;
};
using Sequence = std::vector<Step>;

Step write(std::string name, uint32_t offset, uint32_t value) {
  return {std::move(name), [=](Rig& r) { r.raw.write(offset, value); }};
}
Step sleep(std::string name, uint64_t ms) {
  return {std::move(name), [=](Rig& r) { r.raw.sleepMs(ms); }};
}
Step stop(std::string name, uint32_t block) {
  return {std::move(name), [=](Rig& r) { r.raw.clearBits(block, reg::kBlockRun); }};
}
// The reset word written back with the bits of `keep` as they read, bit 15 set and bit 14 clear.
Step resetWord(std::string name, uint32_t keep) {
  return {std::move(name), [=](Rig& r) {
            const uint32_t value = r.raw.read(reg::kGlobalReset);
            r.raw.write(reg::kGlobalReset, (value & keep) | reg::kGlobalResetStart);
          }};
}
Step pulse(std::string name, uint64_t ms) {
  return {std::move(name), [=](Rig& r) {
            const uint32_t v = r.raw.read(reg::kFirmwareControlBits);
            r.raw.write(reg::kFirmwareControlBits, v | reg::kFirmwareControlReset);
            r.raw.sleepMs(ms);
            r.raw.write(reg::kFirmwareControlBits, v);
          }};
}
Step restartWrite(std::string name, uint16_t address, uint16_t value) {
  return {std::move(name),
          [=](Rig& r) { r.raw.lockedWrite(r.restartPhy, r.restartDevice, address, value); }};
}

// The answer of 0x18 after a global reset, counted once it has read 0 (the reset has reached
// the firmware): what the tool waits for.
bool waitRestarted(test::RawFirmware& raw) {
  return raw.poll(
             reg::kFirmwareAlive, [](uint32_t v) { return v == 0; }, 1, 10000) &&
         raw.poll(reg::kFirmwareAlive, [](uint32_t v) { return v != 0; });
}

Sequence interface1Reset() {
  return {
      write("halt", reg::kControlWord, 0x40E1),
      sleep("halt settle", 50),
      {"restart request",
       [](Rig& r) { r.raw.setBits(reg::kFirmwareControlBits, reg::kFirmwareControlReset); }},
      resetWord("intermediate reset", 0x3FFF),
      write("hold", reg::kControlWord, 0x80E0),
      write("record cleared", reg::kFirmwareScratch, 0),
      write("request", reg::kInterface1Reset, 1),
      pulse("pulse", 10),
      write("drive", reg::kControlWord, 0x180E0),
      {"wait done",
       [](Rig& r) {
         r.resetDone = r.raw.poll(reg::kFirmwareState, [](uint32_t v) {
           return (v & reg::kFirmwareStateResetDone) != 0;
         });
       }},
      write("close", reg::kControlWord, 0x80E0),
      sleep("close settle", 50),
      {"release", [](Rig& r) { r.raw.release(); }},
  };
}

Sequence phyRestart() {
  return {
      {"setup", [](Rig& r) { r.raw.setup(); }},
      {"find",
       [](Rig& r) {
         r.phy = r.raw.findPhy();
         r.restartPhy = r.phy;
       }},
      {"count before", [](Rig& r) { r.raw.lockedRead(r.phy, kVendor, MdioPhy::kRestartCount); }},
      restartWrite("mode on", 0xC001, 0x0041),
      restartWrite("control cleared", 0x0000, 0x0000),
      restartWrite("option", 0xC442, 0x0001),
      restartWrite("scratch", 0xC3FE, 0x0000),
      restartWrite("restart", 0x0000, 0x8000),
      restartWrite("mode off", 0xC001, 0x0000),
      sleep("quiet", 30),
      {"wait ready",
       [](Rig& r) {
         for (int tries = 0; tries < 1500 && !r.phyReady; ++tries) {
           if (r.raw.take()) {
             const uint16_t v = r.raw.mdioRead(r.phy, kVendor, MdioPhy::kStatus);
             r.raw.release();
             r.phyReady = v != 0xFFFF && (v & MdioPhy::kReadyBit) != 0;
           }
           if (!r.phyReady) r.raw.sleepMs(10);
         }
       }},
  };
}

Sequence interface1Reload() {
  Sequence s = interface1Reset();
  const Sequence phy = phyRestart();
  s.insert(s.end(), phy.begin(), phy.end());
  const Sequence reset = {
      stop("stop B", reg::kBlockControlB),
      stop("stop C", reg::kBlockControlC),
      stop("stop A", reg::kBlockControlA),
      resetWord("reset", 0x3FFF),
      {"wait answer", [](Rig& r) { r.answered = waitRestarted(r.raw); }},
  };
  s.insert(s.end(), reset.begin(), reset.end());
  return s;
}

Sequence interface2Reload() {
  return {
      write("halt", reg::kControlWord, 0x40E1),
      {"release", [](Rig& r) { r.raw.release(); }},
      write("record cleared", reg::kFirmwareScratch, 0),
      {"clear bit 3",
       [](Rig& r) {
         r.phy = r.raw.findPhy();
         const uint32_t v = r.raw.lockedRead(r.phy, kVendor, 0x1000);
         if ((v & 0xFFFF) != 0xFFFF)
           r.raw.lockedWrite(r.phy, kVendor, 0x1000, static_cast<uint16_t>(v & ~0x8u));
       }},
      write("mark word", reg::kFirmwareInterface2Word, 0xDEAD),
      {"restart request",
       [](Rig& r) { r.raw.setBits(reg::kFirmwareControlBits, reg::kFirmwareControlReset); }},
      stop("stop B", reg::kBlockControlB),
      stop("stop C", reg::kBlockControlC),
      stop("stop A", reg::kBlockControlA),
      resetWord("reset", ~0xC000u),
      write("run", reg::kControlWord, 0x40E0),
      {"wait word",
       [](Rig& r) {
         r.raw.poll(reg::kFirmwareInterface2Word,
                    [](uint32_t v) { return (v & 0xFFFF) != 0xDEAD && (v & 0xFFFF) != 0; });
       }},
      {"wait answer",
       [](Rig& r) {
         r.answered = r.raw.poll(reg::kFirmwareAlive, [](uint32_t v) { return v != 0; });
       }},
  };
}

// A take of the MDIO semaphore, refused when the firmware holds it: nothing else follows.
Sequence refusedTake() {
  return {{"take", [](Rig& r) { r.granted = r.raw.take(); }}};
}

// The PHY identifier read over and over, each read locked, while the firmware uses the bus too.
Sequence sharedBus() {
  return {{"reads", [](Rig& r) {
             for (int i = 0; i < 200; ++i) {
               r.identifiers.push_back(static_cast<uint16_t>(r.raw.lockedRead(1, 1, 3)));
               r.raw.sleepMs(1);
             }
           }}};
}

// What each sound sequence leaves when it went well.
bool firmwareBack(const Rig& r) {
  return r.answered && r.adapter.firmwareControl().running() && !r.adapter.firmwareControl().hung();
}
bool interface1Well(const Rig& r) {
  return r.resetDone && r.phyReady && firmwareBack(r);
}
bool interface2Well(const Rig& r) {
  return firmwareBack(r) &&
         (r.adapter.mdio().phyRegister(kVendor, 0x1000) & kRegister1000Bit3) == 0;
}
bool phyWell(const Rig& r) {
  return r.phyReady;
}
bool refusedWell(const Rig& r) {
  return !r.granted && r.adapter.stats().mdioFrames == 0;
}
bool sharedWell(const Rig& r) {
  return r.adapter.stats().firmwareMdioUses != 0 &&
         std::all_of(r.identifiers.begin(), r.identifiers.end(),
                     [](uint16_t id) { return id == MdioPhy::kIdentifier; });
}

struct Base {
  std::function<Sequence()> build;
  std::function<bool(const Rig&)> well;
};
const Base kInterface1{interface1Reload, interface1Well};
const Base kInterface2{interface2Reload, interface2Well};
const Base kPhy{phyRestart, phyWell};
const Base kRefused{refusedTake, refusedWell};
const Base kShared{sharedBus, sharedWell};

using Change = std::function<Sequence(Sequence)>;

std::vector<Step>::iterator find(Sequence& s, const std::string& name) {
  const auto it =
      std::find_if(s.begin(), s.end(), [&](const Step& step) { return step.name == name; });
  EXPECT_NE(it, s.end()) << "no step " << name;
  return it;
}
Change without(std::string name) {
  return [=](Sequence s) {
    s.erase(find(s, name));
    return s;
  };
}
Change swapped(std::string a, std::string b) {
  return [=](Sequence s) {
    std::iter_swap(find(s, a), find(s, b));
    return s;
  };
}
Change replaced(std::string name, Step by) {
  return [=](Sequence s) {
    *find(s, name) = by;
    return s;
  };
}
Change after(std::string name, Step extra) {
  return [=](Sequence s) {
    s.insert(find(s, name) + 1, extra);
    return s;
  };
}
// The step moved to right after another one.
Change moved(std::string name, std::string behind) {
  return [=](Sequence s) {
    const Step step = *find(s, name);
    s.erase(find(s, name));
    s.insert(find(s, behind) + 1, step);
    return s;
  };
}

AdapterConfig config(const std::function<void(AdapterConfig&)>& adjust = nullptr) {
  AdapterConfig c;
  if (adjust) adjust(c);
  return c;
}
AdapterConfig interface2(const std::function<void(AdapterConfig&)>& adjust = nullptr) {
  AdapterConfig c = config(adjust);
  c.firmware.kind = FirmwareKind::kInterface2;
  return c;
}

struct Case {
  const char* name;
  Base base;
  AdapterConfig config;
  Change change;                     // none: the sound sequence
  std::optional<Violation> counted;  // what notices the change; none: the outcome does
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

const Case kCases[] = {
    // The sound sequences, also with slow or jittered resets and a firmware busy on the bus.
    {"Interface1Reload", kInterface1, config(), nullptr, std::nullopt},
    {"Interface1ReloadWithJitteredResetsAndABusyFirmware", kInterface1,
     config([](AdapterConfig& c) {
       c.timings.firmwareResetLatencyNs = 20000000;
       c.timings.firmwareResetJitterNs = 30000000;
       c.timings.firmwareResetJitterSeed = 5;
       c.timings.firmwareMdioEveryNs = 1000000;
       c.firmware.phyAddress = 17;
     }),
     nullptr, std::nullopt},
    {"Interface2Reload", kInterface2, interface2(), nullptr, std::nullopt},
    {"Interface2ReloadWithJitteredResetsAndABusyFirmware", kInterface2,
     interface2([](AdapterConfig& c) {
       c.timings.firmwareResetJitterNs = 50000000;
       c.timings.firmwareResetJitterSeed = 9;
       c.timings.firmwareMdioEveryNs = 1000000;
     }),
     nullptr, std::nullopt},
    {"PhyRestart", kPhy, config(), nullptr, std::nullopt},
    {"PhyRestartAtAddressZeroWithABusyFirmware", kPhy, config([](AdapterConfig& c) {
       c.firmware.phyAddress = 0;
       c.timings.firmwareMdioEveryNs = 1000000;
     }),
     nullptr, std::nullopt},
    {"RefusedTake", kRefused, config([](AdapterConfig& c) { c.firmware.mdioSemaphoreHeld = true; }),
     nullptr, std::nullopt},
    {"LockedReadsOnABusShared", kShared,
     config([](AdapterConfig& c) { c.timings.firmwareMdioEveryNs = 1000000; }), nullptr,
     std::nullopt},

    // The global reset: the blocks stopped first, in their order; the reset word's kept bits.
    {"GlobalResetWithBlockARunning", kInterface1, config(), without("stop A"),
     Violation::kResetWithBlockRunning},
    {"GlobalResetStoppingAAheadOfC", kInterface1, config(), swapped("stop C", "stop A"),
     Violation::kBlockStopOutOfOrder},
    {"GlobalResetStoppingCAheadOfB", kInterface1, config(), swapped("stop B", "stop C"),
     Violation::kBlockStopOutOfOrder},
    {"GlobalResetClearingBit28OfB", kInterface1, config(),
     replaced("stop B", {"stop B", [](Rig& r) { r.raw.clearBits(reg::kBlockControlB, 1u << 28); }}),
     Violation::kResetWithBlockRunning},
    {"GlobalResetWordWrittenPlain", kInterface1, config(),
     replaced("reset", write("reset", reg::kGlobalReset, 0x8000)), Violation::kKeptBitsChanged},
    {"GlobalResetWordWithBit14", kInterface1, config(),
     replaced("reset", {"reset",
                        [](Rig& r) {
                          r.raw.write(reg::kGlobalReset,
                                      (r.raw.read(reg::kGlobalReset) & 0x3FFF) | 0xC000);
                        }}),
     Violation::kKeptBitsChanged},
    {"Interface2ResetWithBlockBRunning", kInterface2, interface2(), without("stop B"),
     Violation::kResetWithBlockRunning},

    // The interface-1 reset, step by step.
    {"Interface1WithoutTheHaltSettle", kInterface1, config(), without("halt settle"),
     Violation::kResetWithBlockRunning},
    {"Interface1WithAHaltSettleOf40Ms", kInterface1, config(),
     replaced("halt settle", sleep("halt settle", 40)), Violation::kResetWithBlockRunning},
    {"Interface1WithoutTheHalt", kInterface1, config(), without("halt"),
     Violation::kResetWithBlockRunning},
    {"Interface1WithoutTheRestartRequest", kInterface1, config(), without("restart request"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1RestartRequestAfterTheReset", kInterface1, config(),
     swapped("restart request", "intermediate reset"), Violation::kFirmwareResetOutOfOrder},
    {"Interface1WithoutTheIntermediateReset", kInterface1, config(), without("intermediate reset"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1HoldBeforeTheReset", kInterface1, config(), swapped("intermediate reset", "hold"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1WithoutTheHold", kInterface1, config(), without("hold"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1WithoutClearingTheRecord", kInterface1, config(), without("record cleared"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1RecordClearedBeforeTheHold", kInterface1, config(),
     swapped("hold", "record cleared"), Violation::kFirmwareResetOutOfOrder},
    {"Interface1WithoutTheRequest", kInterface1, config(), without("request"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1PulseBeforeTheRequest", kInterface1, config(), swapped("request", "pulse"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1WithoutThePulse", kInterface1, config(), without("pulse"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1WithA5MsPulse", kInterface1, config(), replaced("pulse", pulse("pulse", 5)),
     Violation::kSettleTimeTooShort},
    {"Interface1WithoutTheDrive", kInterface1, config(), without("drive"), std::nullopt},
    {"Interface1ClosedWithoutWaitingForTheReset", kInterface1, config(), without("wait done"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface1WithoutTheClose", kInterface1, config(), without("close"),
     Violation::kReleaseWithoutHolding},
    {"Interface1WithoutTheCloseSettle", kInterface1, config(), without("close settle"),
     Violation::kReleaseWithoutHolding},
    {"Interface1ReleasedRightAfterTheHalt", kInterface1, config(), moved("release", "halt"),
     Violation::kReleaseWithoutHolding},
    {"Interface1WithoutTheFinalRelease", kInterface1, config(), without("release"), std::nullopt},

    // The interface-2 reload, in its order.
    {"Interface2WithoutTheHalt", kInterface2, interface2(), without("halt"),
     Violation::kReleaseWithoutHolding},
    {"Interface2ReleaseBeforeTheHalt", kInterface2, interface2(), swapped("halt", "release"),
     Violation::kReleaseWithoutHolding},
    {"Interface2WithoutTheRelease", kInterface2, interface2(), without("release"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface2WithoutClearingTheRecord", kInterface2, interface2(), without("record cleared"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface2RecordClearedBeforeTheHalt", kInterface2, interface2(),
     swapped("halt", "record cleared"), Violation::kFirmwareResetOutOfOrder},
    {"Interface2WithoutTheMark", kInterface2, interface2(), without("mark word"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface2MarkAfterTheReset", kInterface2, interface2(), moved("mark word", "reset"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface2WithoutTheRestartRequest", kInterface2, interface2(), without("restart request"),
     Violation::kFirmwareResetOutOfOrder},
    {"Interface2RunBeforeTheReset", kInterface2, interface2(), swapped("reset", "run"),
     Violation::kResetWithBlockRunning},
    {"Interface2WithoutTheRun", kInterface2, interface2(), without("run"), std::nullopt},
    {"Interface2WithoutClearingPhyBit3", kInterface2, interface2(), without("clear bit 3"),
     std::nullopt},

    // The answer after a reset: 0x18 reads its old value for the reset's latency.
    {"Interface1AnswerTakenAtTheFirstNonZeroRead", kInterface1, config(),
     replaced("wait answer", {"wait answer",
                              [](Rig& r) {
                                r.answered = r.raw.poll(reg::kFirmwareAlive,
                                                        [](uint32_t v) { return v != 0; });
                              }}),
     std::nullopt},
    {"Interface2AnswerAwaitedWithoutTheWord", kInterface2, interface2(), without("wait word"),
     std::nullopt},

    // The MDIO interface: its setup, and the semaphore around every access.
    {"PhyRestartAfterTheResetWithoutTheSetup", kInterface1, config(), without("setup"),
     Violation::kMdioNotSetUp},
    {"PhyRestartWithDivider4", kPhy, config(),
     replaced("setup", {"setup", [](Rig& r) { r.raw.setup(4); }}), Violation::kMdioNotSetUp},
    {"PhyRestartWithTheInterfaceDisabled", kPhy, config(),
     replaced("setup", {"setup", [](Rig& r) { r.raw.setup(8, false); }}), Violation::kMdioNotSetUp},
    {"AddressWrittenBeforeTheTake", kPhy, config(),
     replaced("count before", {"count before",
                               [](Rig& r) {
                                 r.raw.write(reg::kMdioRegisterAddress, MdioPhy::kRestartCount);
                                 if (!r.raw.take()) return;
                                 const uint32_t port = r.phy << reg::kMdioPhyShift | kVendor;
                                 r.raw.write(reg::kMdioCommand, reg::kMdioAddressFrame | port);
                                 r.raw.waitIdle();
                                 r.raw.write(reg::kMdioCommand, reg::kMdioReadFrame | port);
                                 r.raw.waitIdle();
                                 r.raw.read(reg::kMdioReadData);
                                 r.raw.release();
                               }}),
     Violation::kMdioWithoutSemaphore},
    {"DataReadAfterTheRelease", kPhy, config(),
     replaced("count before", {"count before",
                               [](Rig& r) {
                                 if (!r.raw.take()) return;
                                 const uint32_t port = r.phy << reg::kMdioPhyShift | kVendor;
                                 r.raw.write(reg::kMdioRegisterAddress, MdioPhy::kRestartCount);
                                 r.raw.write(reg::kMdioCommand, reg::kMdioAddressFrame | port);
                                 r.raw.waitIdle();
                                 r.raw.write(reg::kMdioCommand, reg::kMdioReadFrame | port);
                                 r.raw.waitIdle();
                                 r.raw.release();
                                 r.raw.read(reg::kMdioReadData);
                               }}),
     Violation::kMdioWithoutSemaphore},
    {"ReadsOnASharedBusWithoutTheSemaphore", kShared,
     config([](AdapterConfig& c) { c.timings.firmwareMdioEveryNs = 1000000; }),
     replaced("reads", {"reads",
                        [](Rig& r) {
                          for (int i = 0; i < 200; ++i) {
                            r.identifiers.push_back(r.raw.mdioRead(1, 1, 3));
                            r.raw.sleepMs(1);
                          }
                        }}),
     Violation::kMdioWithoutSemaphore},

    // The PHY restart: only its whole sequence, at the PHY's address, restarts it.
    {"PhyRestartWithoutEnteringTheMode", kPhy, config(), without("mode on"),
     Violation::kPhyRestartSequence},
    {"PhyRestartWithoutTheOption", kPhy, config(), without("option"),
     Violation::kPhyRestartSequence},
    {"PhyRestartWithOptionAndScratchSwapped", kPhy, config(), swapped("option", "scratch"),
     Violation::kPhyRestartSequence},
    {"PhyRestartNeverLeavingTheMode", kPhy, config(), without("mode off"), std::nullopt},
    {"PhyRestartSentToTheNextAddress", kPhy, config(),
     after("find", {"elsewhere", [](Rig& r) { r.restartPhy = r.phy + 1; }}), std::nullopt},
    {"PhyRestartSentToDevice1F", kPhy, config(),
     after("find", {"elsewhere", [](Rig& r) { r.restartDevice = 0x1F; }}), std::nullopt},
    {"PhyPolledWithoutTheQuietTime", kPhy, config(), without("quiet"),
     Violation::kSettleTimeTooShort},

    // The semaphores: released only by their holder.
    {"ReleaseAfterARefusedTake", kRefused,
     config([](AdapterConfig& c) { c.firmware.mdioSemaphoreHeld = true; }),
     after("take", {"release", [](Rig& r) { r.raw.release(); }}),
     Violation::kReleaseWithoutHolding},
    {"ReleasedTwice", kPhy, config(),
     after("count before", {"release again", [](Rig& r) { r.raw.release(); }}),
     Violation::kReleaseWithoutHolding},
    {"FramesAfterARefusedTake", kRefused,
     config([](AdapterConfig& c) { c.firmware.mdioSemaphoreHeld = true; }),
     after("take", {"read anyway", [](Rig& r) { r.raw.mdioRead(1, 1, 3); }}),
     Violation::kMdioWithoutSemaphore},
};

class FirmwareSequences : public testing::TestWithParam<Case> {};

TEST_P(FirmwareSequences, SoundOnesEndCleanAndWellAndEveryChangeIsNoticed) {
  const Case& c = GetParam();
  Rig rig(c.config);
  const Sequence sequence = c.change ? c.change(c.base.build()) : c.base.build();
  for (const Step& step : sequence)
    step.run(rig);
  const AdapterStats stats = rig.adapter.stats();
  if (!c.change) {
    for (std::size_t i = 0; i < kViolationKinds; ++i)
      EXPECT_EQ(stats.violationsByKind[i], 0u) << violationName(static_cast<Violation>(i));
    EXPECT_TRUE(c.base.well(rig)) << "the sequence did not end well";
    EXPECT_FALSE(stats.semaphoreHeld);
    EXPECT_EQ(stats.unclaimedAccesses, 0u);
  } else if (c.counted) {
    EXPECT_GE(stats.count(*c.counted), 1u) << violationName(*c.counted);
  } else {
    EXPECT_FALSE(c.base.well(rig)) << "the change left nothing to see";
  }
}

INSTANTIATE_TEST_SUITE_P(Sequences, FirmwareSequences, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hlv::sim
