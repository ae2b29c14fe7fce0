// The emulated adapter behaves like the hardware: NOR semantics, busy times, identification,
// power cuts; and it counts the sequences a real adapter would not forgive.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <array>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "sim/emulated_adapter.h"
#include "sim/sfdp_table.h"
#include "tests/sim/raw_engine.h"
#include "tests/support/adapter_rig.h"

namespace hlv::sim {
namespace {

using test::RawEngine;

// The adapter rig driven word by word; the tests count the violations themselves.
struct Rig : test::AdapterRig {
  explicit Rig(const AdapterConfig& c = {}, bool openInterface = true)
      : AdapterRig(c, test::TrafficCheck::kCountedByTheTest), raw(adapter) {
    std::fill(adapter.flash().begin(), adapter.flash().end(), 0x5A);
    if (openInterface) raw.open();
  }
  uint8_t at(uint32_t address) const { return adapter.flash()[address]; }
  bool untouched() const {
    return std::all_of(adapter.flash().begin(), adapter.flash().end(),
                       [](uint8_t byte) { return byte == 0x5A; });
  }

  RawEngine raw;
};

AdapterConfig part(uint32_t jedecId, bool locked = false) {
  AdapterConfig config;
  config.jedecId = jedecId;
  config.protectedAtPowerOn = locked;
  return config;
}

AdapterConfig quick() {
  AdapterConfig config;
  config.timings = quickTimings();
  return config;
}

constexpr uint32_t kStandardPart = 0xEF6015;  // 2 MiB, status opcode 0x05
constexpr uint32_t kReadyBitPart = 0x1F2400;  // status opcode 0xD7, no write enable

// A wrong sequence, the one violation it must count, and what the flash looks like after it
// (no check: untouched).
struct WrongSequence {
  const char* name;
  Violation expected;
  std::function<void(Rig&)> run;
  std::function<void(Rig&)> check;
  AdapterConfig config = {};
  bool openInterface = true;
};

void PrintTo(const WrongSequence& c, std::ostream* os) {
  *os << c.name;
}

const WrongSequence kWrongSequences[] = {
    {"ProgramWithoutWriteEnable", Violation::kNoWriteEnable,
     [](Rig& r) { r.raw.program(0x100, 0x00000000); }, nullptr},
    {"ProgramCrossingThePageEnd", Violation::kPageCrossing,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.program(0x1FE, 0x04030201);
     },
     [](Rig& r) {
       // The part wraps inside its page.
       EXPECT_EQ(r.at(0x1FE), 0x5A & 0x01);
       EXPECT_EQ(r.at(0x1FF), 0x5A & 0x02);
       EXPECT_EQ(r.at(0x100), 0x5A & 0x03);
       EXPECT_EQ(r.at(0x101), 0x5A & 0x04);
       EXPECT_EQ(r.at(0x200), 0x5A);
     }},
    {"DataReadBeforeTheWordEnded", Violation::kDataReadWhileEngineBusy,
     [](Rig& r) {
       r.raw.format(3, 0, 4);
       r.raw.address(0);
       r.raw.start(0x03);
       r.raw.data();
     },
     nullptr},
    {"DataReadAfterASinglePollThatSawTheBusyBit", Violation::kDataReadWhileEngineBusy,
     [](Rig& r) {
       r.raw.format(0, 0, 1);
       r.raw.start(0x05);
       r.adapter.read32(reg::kFlashCommand);  // busy; a poll giving up here is too short
       r.raw.data();
     },
     nullptr},
    {"WordStartedWhileTheEngineIsBusy", Violation::kTransferWhileEngineBusy,
     [](Rig& r) {
       r.raw.format(0, 0, 1);
       r.raw.start(0x05);
       r.raw.start(0x05);
     },
     nullptr},
    {"WordStartedWhenTheBusyBitIsReadInverted", Violation::kTransferWhileEngineBusy,
     [](Rig& r) {
       // A poll that waits for the busy bit to be set instead of clear goes on at once.
       r.raw.format(0, 0, 1);
       r.raw.start(0x05);
       while ((r.adapter.read32(reg::kFlashCommand) & reg::kFlashCommandBusy) == 0) {
       }
       r.raw.start(0x05);
     },
     nullptr},
    {"AddressChangedDuringAWord", Violation::kRegisterWriteWhileEngineBusy,
     [](Rig& r) {
       r.raw.format(3, 0, 4);
       r.raw.address(0);
       r.raw.start(0x03);
       r.raw.address(4);
     },
     nullptr},
    {"CommandWrittenWithoutStartDuringAWord", Violation::kRegisterWriteWhileEngineBusy,
     [](Rig& r) {
       r.raw.format(3, 0, 4);
       r.raw.address(0);
       r.raw.start(0x03, /*keepOpen=*/true);
       r.adapter.write32(reg::kFlashCommand, 0x0003);
     },
     nullptr},
    // The quick timings of the test benches still leave the part busy for the next command of
    // a sequence that forgot to wait.
    {"WriteEnableRightAfterAProgramWithQuickTimings", Violation::kCommandWhilePartBusy,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.program(0x100, 0);
       r.raw.writeEnable();
     },
     [](Rig& r) { EXPECT_EQ(r.at(0x100), 0x00); }, quick()},
    {"StatusWriteRightAfterAnEraseWithQuickTimings", Violation::kCommandWhilePartBusy,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.erase(0xD8, 0x10000);
       r.raw.format(1, 0, 0);
       r.raw.address(0);
       r.raw.start(0x01);
       r.raw.waitEngine();
     },
     [](Rig& r) { EXPECT_EQ(r.at(0x10000), 0xFF); }, quick()},
    {"ReadWhileThePartErases", Violation::kCommandWhilePartBusy,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.erase(0x20, 0x1000);
       r.raw.readWord(0x1000);
     },
     [](Rig& r) { EXPECT_EQ(r.at(0x1000), 0xFF); }},
    {"EraseAddressInsideItsSector", Violation::kUnalignedErase,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.erase(0x20, 0x1010);
     },
     [](Rig& r) {
       // The whole sector around the address goes, bytes before it included.
       EXPECT_EQ(r.at(0x1000), 0xFF);
       EXPECT_EQ(r.at(0x1FFF), 0xFF);
       EXPECT_EQ(r.at(0x2000), 0x5A);
     }},
    {"EraseWithDataBytes", Violation::kFormatMismatch,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.format(3, 0, 1);
       r.raw.address(0x1000);
       r.raw.start(0x20);
       r.raw.waitEngine();
     },
     nullptr},
    {"FormatWithFiveDataBytes", Violation::kFormatMismatch,
     [](Rig& r) {
       r.raw.format(3, 0, 5);
       r.raw.address(0);
       r.raw.start(0x03);
       r.raw.waitEngine();
     },
     nullptr},
    {"StatusWriteWithTheValueInADataPhase", Violation::kFormatMismatch,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.format(0, 0, 1);
       r.raw.data(0);
       r.raw.start(0x01, false, /*program=*/true);
       r.raw.waitEngine();
     },
     [](Rig& r) {
       EXPECT_TRUE(r.untouched());
       EXPECT_EQ(r.raw.status() & 0x1C, 0x1C) << "the protection stayed";
     },
     part(kStandardPart, /*locked=*/true)},
    {"StatusWriteWithADataPhaseAfterItsValue", Violation::kFormatMismatch,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.format(1, 0, 1);
       r.raw.address(0);
       r.raw.start(0x01);
       r.raw.waitEngine();
     },
     [](Rig& r) { EXPECT_EQ(r.raw.status() & 0x1C, 0x1C) << "the protection stayed"; },
     part(kStandardPart, /*locked=*/true)},
    {"StatusReadWithoutItsDataByte", Violation::kFormatMismatch,
     [](Rig& r) { r.raw.simple(0x05); }, nullptr},
    {"IdentificationWithoutItsDataBytes", Violation::kFormatMismatch,
     [](Rig& r) { r.raw.simple(0x9F); }, nullptr},
    {"ReadWithTheProgramBitSet", Violation::kFormatMismatch,
     [](Rig& r) {
       r.raw.format(3, 0, 4);
       r.raw.address(0);
       r.raw.start(0x03, false, /*program=*/true);
       r.raw.waitEngine();
     },
     nullptr},
    {"EraseOnAProtectedPart", Violation::kWriteProtected,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.erase(0x20, 0x1000);
     },
     nullptr, part(kStandardPart, /*locked=*/true)},
    {"StatusWriteWithoutWriteEnable", Violation::kNoWriteEnable,
     [](Rig& r) {
       r.raw.format(1, 0, 0);
       r.raw.address(0);
       r.raw.start(0x01);
       r.raw.waitEngine();
     },
     [](Rig& r) { EXPECT_EQ(r.raw.status() & 0x1C, 0x1C) << "the protection stayed"; },
     part(kStandardPart, /*locked=*/true)},
    {"OpenReadContinuedWithAnotherCommand", Violation::kCommandChangedInOpenTransfer,
     [](Rig& r) {
       r.raw.format(3, 0, 4);
       r.raw.address(0);
       r.raw.start(0x03, /*keepOpen=*/true);
       r.raw.waitEngine();
       r.raw.format(0, 0, 1);
       r.raw.start(0x05);
       r.raw.waitEngine();
     },
     nullptr},
    {"OpenReadContinuedAfterTheAddressMovedElsewhere", Violation::kAddressOutOfStep,
     [](Rig& r) {
       r.raw.format(3, 0, 4);
       r.raw.address(0x100);
       r.raw.start(0x03, /*keepOpen=*/true);
       r.raw.waitEngine();
       r.raw.address(0x100);  // the transfer is at 0x104 by now
       r.raw.start(0x03);
       r.raw.waitEngine();
     },
     nullptr},
    {"ReadStartingPastTheEnd", Violation::kAddressBeyondCapacity,
     [](Rig& r) { r.raw.readWord(0x200000); }, nullptr},
    {"ReadRunningPastTheEnd", Violation::kAddressBeyondCapacity,
     [](Rig& r) {
       r.adapter.flash()[0] = 0x11;
       r.adapter.flash()[0x1FFFFF] = 0x22;
       // The part wraps to its start, as a real one does.
       EXPECT_EQ(r.raw.readWord(0x1FFFFE), 0x5A11225Au);
     },
     [](Rig& r) {
       r.adapter.flash()[0] = 0x5A;
       r.adapter.flash()[0x1FFFFF] = 0x5A;
       EXPECT_TRUE(r.untouched());
     }},
    {"EraseWithAnOpcodeThePartDoesNotKnow", Violation::kUnknownOpcode,
     [](Rig& r) {
       r.raw.writeEnable();
       r.raw.erase(0x52, 0x8000);  // a 32 KiB erase this part does not have
     },
     nullptr},
    {"WriteEnableSentToAReadyBitPart", Violation::kUnknownOpcode,
     [](Rig& r) { r.raw.writeEnable(); }, nullptr, part(kReadyBitPart)},
    {"StatusWriteSentToAReadyBitPart", Violation::kUnknownOpcode,
     [](Rig& r) {
       r.raw.format(1, 0, 0);
       r.raw.address(0);
       r.raw.start(0x01);
       r.raw.waitEngine();
     },
     nullptr, part(kReadyBitPart)},
    {"StatusReadWithOpcode05OnAReadyBitPart", Violation::kUnknownOpcode,
     [](Rig& r) { r.raw.status(); }, nullptr, part(kReadyBitPart)},
    {"VolatileStatusEnableOnAPartWithoutIt", Violation::kUnknownOpcode,
     [](Rig& r) { r.raw.simple(0x50); }, nullptr},
    {"InterfaceClosedWithChipSelectHeld", Violation::kChipSelectHeldAtClose,
     [](Rig& r) {
       r.raw.format(3, 0, 4);
       r.raw.address(0);
       r.raw.start(0x03, /*keepOpen=*/true);
       r.raw.waitEngine();
       r.raw.close();
     },
     nullptr},
    {"WordStartedBeforeTheInterfaceIsOpen", Violation::kInterfaceNotEnabled,
     [](Rig& r) {
       r.raw.format(0, 0, 1);
       r.raw.start(0x05);
       r.raw.waitEngine();
     },
     nullptr, {}, /*openInterface=*/false},
    {"WordStartedAfterTheInterfaceWasClosed", Violation::kInterfaceNotEnabled,
     [](Rig& r) {
       r.raw.close();
       r.raw.simple(0x04);  // write disable: harmless but for the closed interface
     },
     nullptr},
};

class WrongSequences : public testing::TestWithParam<WrongSequence> {};

TEST_P(WrongSequences, AreCountedByKind) {
  const WrongSequence& c = GetParam();
  Rig rig(c.config, c.openInterface);
  c.run(rig);
  EXPECT_EQ(rig.adapter.violations(c.expected), 1u) << violationName(c.expected);
  EXPECT_EQ(rig.adapter.violations(), 1u) << "no other kind is counted";
  EXPECT_EQ(rig.adapter.stats().unclaimedAccesses, 0u);
  if (c.check) {
    c.check(rig);
  } else {
    EXPECT_TRUE(rig.untouched()) << "the flash is as it was";
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, WrongSequences, testing::ValuesIn(kWrongSequences),
                         [](const auto& info) { return std::string(info.param.name); });

struct ProtectionCase {
  const char* name;
  bool lockedAtStart;
  uint8_t enableOpcode;  // 0x06: non-volatile status write; 0x50: volatile
  uint8_t newStatus;
  bool lockedWhileRunning;
  bool lockedAfterPowerCut;
};

void PrintTo(const ProtectionCase& c, std::ostream* os) {
  *os << c.name;
}

class Protection : public testing::TestWithParam<ProtectionCase> {};

TEST_P(Protection, NonVolatileBitsSurviveAPowerCutAndVolatileOnesDoNot) {
  const ProtectionCase& c = GetParam();
  AdapterConfig config = part(kStandardPart, c.lockedAtStart);
  config.volatileStatusWriteEnable = true;
  Rig rig(config);
  rig.raw.simple(c.enableOpcode);
  rig.raw.format(1, 0, 0);
  rig.raw.address(c.newStatus);
  rig.raw.start(0x01);
  rig.raw.waitEngine();
  ASSERT_TRUE(rig.raw.waitPart());
  EXPECT_EQ(rig.adapter.part().locked(), c.lockedWhileRunning);
  rig.adapter.cutPowerAfter(0);
  rig.adapter.restorePower();
  EXPECT_EQ(rig.adapter.part().locked(), c.lockedAfterPowerCut);
  rig.raw.open();
  EXPECT_EQ((rig.raw.status() & 0x1C) != 0, c.lockedAfterPowerCut);
  EXPECT_EQ(rig.adapter.violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    StatusWrites, Protection,
    testing::Values(
        ProtectionCase{"UnlockedAfterWriteEnableStaysUnlocked", true, 0x06, 0x00, false, false},
        ProtectionCase{"LockedAfterWriteEnableStaysLocked", false, 0x06, 0x1C, true, true},
        ProtectionCase{"UnlockedAfterVolatileEnableLocksAgain", true, 0x50, 0x00, false, true},
        ProtectionCase{"LockedAfterVolatileEnableUnlocksAgain", false, 0x50, 0x1C, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

// Busy reads of the command register after a started word, until it reads idle.
std::vector<int> busyReadsPerWord(Rig& rig, int words) {
  std::vector<int> counts;
  for (int w = 0; w < words; ++w) {
    rig.raw.format(0, 0, 1);
    rig.raw.start(0x05);
    int busy = 0;
    while ((rig.adapter.read32(reg::kFlashCommand) & reg::kFlashCommandBusy) != 0)
      ++busy;
    counts.push_back(busy);
  }
  return counts;
}

TEST(EmulatedEngine, AWordStaysBusyForItsConfiguredTimeWithSeededJitter) {
  AdapterConfig fixed;
  fixed.timings.engineTransferNs = 10000;
  Rig steady(fixed);
  EXPECT_EQ(busyReadsPerWord(steady, 4), std::vector<int>(4, 10)) << "one read per microsecond";

  Rig defaults;
  for (int busy : busyReadsPerWord(defaults, 4))
    EXPECT_GE(busy, 3) << "a poll must really wait by default";

  AdapterConfig jittered = fixed;
  jittered.timings.engineJitterNs = 8000;
  jittered.timings.engineJitterSeed = 7;
  Rig first(jittered);
  Rig second(jittered);
  const std::vector<int> counts = busyReadsPerWord(first, 32);
  EXPECT_EQ(busyReadsPerWord(second, 32), counts) << "the same seed, the same busy times";
  EXPECT_GE(*std::min_element(counts.begin(), counts.end()), 10);
  EXPECT_LE(*std::max_element(counts.begin(), counts.end()), 18);
  EXPECT_NE(*std::min_element(counts.begin(), counts.end()),
            *std::max_element(counts.begin(), counts.end()));
  jittered.timings.engineJitterSeed = 8;
  Rig other(jittered);
  EXPECT_NE(busyReadsPerWord(other, 32), counts);
  EXPECT_EQ(first.adapter.violations() + other.adapter.violations(), 0u);
}

TEST(EmulatedPart, ProgramOnlyClearsBitsAndEraseSetsTheUnitToOnes) {
  Rig rig;
  rig.raw.writeEnable();
  rig.raw.erase(0x20, 0x3000);
  ASSERT_TRUE(rig.raw.waitPart());
  rig.raw.writeEnable();
  rig.raw.program(0x3000, 0x00FF0FF0);
  ASSERT_TRUE(rig.raw.waitPart());
  rig.raw.writeEnable();
  rig.raw.program(0x3000, 0xFF0F00FF);
  ASSERT_TRUE(rig.raw.waitPart());
  EXPECT_EQ(rig.raw.readWord(0x3000), 0x000F00F0u);
  rig.raw.writeEnable();
  rig.raw.erase(0xD8, 0x0);
  ASSERT_TRUE(rig.raw.waitPart());
  EXPECT_EQ(rig.at(0xFFFF), 0xFF);
  EXPECT_EQ(rig.at(0x10000), 0x5A);
  EXPECT_EQ(rig.raw.readWord(0x3000), 0xFFFFFFFFu);
  const AdapterStats stats = rig.adapter.stats();
  EXPECT_EQ(stats.erases4k, 1u);
  EXPECT_EQ(stats.erases64k, 1u);
  EXPECT_EQ(stats.bytesProgrammed, 8u);
  EXPECT_EQ(stats.modifyingTransfers, 4u);
  EXPECT_EQ(stats.violations, 0u);
}

TEST(EmulatedPart, WriteEnableIsClearedByEachProgram) {
  Rig rig;
  rig.raw.writeEnable();
  EXPECT_EQ(rig.raw.status() & 0x02, 0x02);
  rig.raw.program(0x10, 0);
  ASSERT_TRUE(rig.raw.waitPart());
  EXPECT_EQ(rig.raw.status() & 0x02, 0);
  rig.raw.program(0x20, 0);
  EXPECT_EQ(rig.adapter.violations(Violation::kNoWriteEnable), 1u);
  EXPECT_EQ(rig.at(0x20), 0x5A);
}

TEST(EmulatedPart, KeepOpenWordsFormOneProgramCommand) {
  Rig rig;
  rig.raw.writeEnable();
  rig.raw.format(3, 0, 4);
  rig.raw.address(0x400);
  rig.raw.data(0x03020100);
  rig.raw.start(0x02, true, true);
  rig.raw.waitEngine();
  rig.raw.data(0x07060504);
  rig.raw.start(0x02, true, true);
  rig.raw.waitEngine();
  // Nothing is programmed while chip select is held.
  EXPECT_EQ(rig.at(0x400), 0x5A);
  rig.raw.format(3, 0, 2);
  rig.raw.data(0x00000908);
  rig.raw.start(0x02, false, true);
  rig.raw.waitEngine();
  for (uint32_t i = 0; i < 10; ++i)
    EXPECT_EQ(rig.at(0x400 + i), 0x5A & i) << i;
  EXPECT_EQ(rig.at(0x40A), 0x5A);
  EXPECT_EQ(rig.adapter.stats().modifyingTransfers, 1u);
  EXPECT_EQ(rig.adapter.violations(), 0u);
}

struct BusyCase {
  const char* name;
  uint32_t jedecId;
  uint8_t opcode;  // 0x02: a page program; 0x01: a status write of 0; otherwise an erase
  uint64_t expectedNs;
  bool quick = false;  // with quickTimings()
};

void PrintTo(const BusyCase& c, std::ostream* os) {
  *os << c.name;
}

class BusyTimes : public testing::TestWithParam<BusyCase> {};

TEST_P(BusyTimes, PartStaysBusyForItsOperationTime) {
  const BusyCase& c = GetParam();
  AdapterConfig config;
  config.jedecId = c.jedecId;
  if (c.quick) config.timings = quickTimings();
  Rig rig(config);
  rig.raw.writeEnable();
  const uint64_t start = rig.clock.now();
  if (c.opcode == 0x02) {
    rig.raw.program(0, 0);
  } else if (c.opcode == 0x01) {
    rig.raw.format(1, 0, 0);
    rig.raw.address(0);
    rig.raw.start(0x01);
    rig.raw.waitEngine();
  } else {
    rig.raw.erase(c.opcode, 0x10000);
  }
  ASSERT_TRUE(rig.raw.waitPart());
  const uint64_t elapsed = rig.clock.now() - start;
  EXPECT_GE(elapsed, c.expectedNs);
  EXPECT_LT(elapsed, c.expectedNs + 20000);
}

INSTANTIATE_TEST_SUITE_P(Defaults, BusyTimes,
                         testing::Values(BusyCase{"PageProgram", 0xEF6015, 0x02, 700000},
                                         BusyCase{"Erase4KiB", 0xEF6015, 0x20, 45000000},
                                         BusyCase{"Erase64KiB", 0xEF6015, 0xD8, 150000000},
                                         BusyCase{"Erase32KiB", 0xEF4017, 0x52, 94000000},
                                         // A status write takes its part's own time.
                                         BusyCase{"StatusWrite2MiBPart", 0xEF6015, 0x01, 10000000},
                                         BusyCase{"StatusWrite4MiBPart", 0xC22016, 0x01, 15000000},
                                         BusyCase{"StatusWrite64KiBPart", 0x202010, 0x01, 5000000},
                                         BusyCase{"StatusWriteGenericPart", 0xEF4017, 0x01,
                                                  10000000},
                                         BusyCase{"StatusWriteQuick", 0xC22016, 0x01, 20000,
                                                  true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EmulatedPart, ReadyBitPartsSplitTheirFirstLargeUnit) {
  AdapterConfig config;
  config.jedecId = 0x1F2400;  // 256-byte pages: the first half is 2 KiB
  Rig rig(config);
  // Their status comes from opcode 0xD7, bit 7 set once ready.
  const auto waitReady = [&rig] {
    for (int i = 0; i < 1000000; ++i) {
      rig.raw.format(0, 0, 1);
      rig.raw.start(0xD7);
      rig.raw.waitEngine();
      if (rig.raw.data() & 0x80) return true;
    }
    return false;
  };
  rig.raw.erase(0x7C, 0);
  ASSERT_TRUE(waitReady());
  EXPECT_EQ(rig.at(0x7FF), 0xFF);
  EXPECT_EQ(rig.at(0x800), 0x5A);
  rig.raw.erase(0x7C, 0x800);
  ASSERT_TRUE(waitReady());
  EXPECT_EQ(rig.at(0xFFFF), 0xFF);
  EXPECT_EQ(rig.at(0x10000), 0x5A);
  // No write enable needed, and the ordinary status read is not theirs.
  EXPECT_EQ(rig.adapter.violations(), 0u);
}

TEST(EmulatedPart, AnswersItsIdentification) {
  struct Case {
    uint32_t jedecId;
    uint8_t opcode;
    uint32_t dataBytes;
    uint32_t expected;
  };
  const Case cases[] = {
      {0xEF6015, 0x9F, 4, 0x001560EF},
      {0x1F240001, 0x9F, 4, 0x0100241F},
      {kShortIdPart, 0x15, 2, 0x651F},
      // A part that does not know the short identification leaves the line high.
      {0xEF6015, 0x15, 2, 0xFFFF},
  };
  for (const Case& c : cases) {
    AdapterConfig config;
    config.jedecId = c.jedecId;
    Rig rig(config);
    rig.raw.format(0, 0, c.dataBytes);
    rig.raw.data(0);
    rig.raw.start(c.opcode);
    rig.raw.waitEngine();
    EXPECT_EQ(rig.raw.data(), c.expected) << std::hex << c.jedecId;
  }
}

TEST(EmulatedPart, SfdpAreaStartsWithItsSignatureAndDescribesThePart) {
  AdapterConfig config;
  config.sfdp = true;
  Rig rig(config);
  const auto sfdpWord = [&rig](uint32_t address) {
    rig.raw.format(3, 1, 4);
    rig.raw.address(address);
    rig.raw.start(0x5A);
    rig.raw.waitEngine();
    return rig.raw.data();
  };
  EXPECT_EQ(sfdpWord(0), 0x50444653u);
  // Density word of the basic table: 2 MiB in bits, minus one.
  EXPECT_EQ(sfdpWord(kSfdpBasicTableAddress + 4), 2u * 1024 * 1024 * 8 - 1);
  // A part without SFDP leaves the line high.
  Rig plain;
  plain.raw.format(3, 1, 4);
  plain.raw.address(0);
  plain.raw.start(0x5A);
  plain.raw.waitEngine();
  EXPECT_EQ(plain.raw.data(), 0xFFFFFFFFu);
}

TEST(EmulatedAdapterPower, CutAfterTheNthModifyingCommandAndRestore) {
  AdapterConfig config;
  config.protectedAtPowerOn = false;
  Rig rig(config);
  rig.adapter.cutPowerAfter(2);
  for (uint32_t i = 0; i < 3; ++i) {
    rig.raw.writeEnable();
    rig.raw.program(0x100 * i, 0);
    rig.raw.waitPart();
  }
  EXPECT_EQ(rig.at(0x000), 0x00);
  EXPECT_EQ(rig.at(0x100), 0x00);
  EXPECT_EQ(rig.at(0x200), 0x5A) << "nothing reaches the part after the cut";
  EXPECT_TRUE(rig.adapter.poweredOff());
  EXPECT_EQ(rig.adapter.read32(reg::kFlashCommand), 0xFFFFFFFFu);
  EXPECT_EQ(rig.adapter.read32(reg::kControlWord), 0xFFFFFFFFu);
  const AdapterStats cut = rig.adapter.stats();
  EXPECT_TRUE(cut.powerCut);
  EXPECT_EQ(cut.modifyingTransfers, 2u);
  EXPECT_EQ(cut.powerCutOpcode, 0x02) << "the command the cut came after";
  EXPECT_EQ(cut.powerCutAddress, 0x100u);

  rig.adapter.restorePower();
  EXPECT_FALSE(rig.adapter.engine().interfaceEnabled()) << "power-on leaves it closed";
  rig.raw.open();
  EXPECT_EQ(rig.raw.status() & 0x03, 0) << "not busy, write enable clear after power-on";
  rig.raw.writeEnable();
  rig.raw.program(0x200, 0);
  rig.raw.waitPart();
  EXPECT_EQ(rig.at(0x200), 0x00);
  EXPECT_EQ(rig.adapter.violations(), 0u);
}

// A cut during a command leaves a partial result that a real part could show, and the same
// seed gives the same one. Over many seeds every kind of partial result turns up.
struct TornOutcome {
  bool whole = false, untouched = false, partial = false;
};

TEST(EmulatedAdapterPower, AProgramCutShortClearsOnlySomeOfItsBits) {
  TornOutcome seen;
  std::vector<uint8_t> first;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    for (int repeat = 0; repeat < 2; ++repeat) {
      Rig rig(quick());
      rig.adapter.cutPowerDuring(1, seed);
      rig.raw.writeEnable();
      rig.raw.program(0x1000, 0x00F00F30);  // bytes 30 0F F0 00 over 5A
      const std::vector<uint8_t> word(rig.adapter.flash().begin() + 0x1000,
                                      rig.adapter.flash().begin() + 0x1004);
      EXPECT_TRUE(rig.adapter.poweredOff());
      EXPECT_EQ(rig.adapter.stats().modifyingTransfers, 1u);
      if (repeat == 0) first = word;
      EXPECT_EQ(word, first) << "seed " << seed << " gives one result";
      const uint8_t data[] = {0x30, 0x0F, 0xF0, 0x00};
      for (int i = 0; i < 4; ++i) {
        const uint8_t target = 0x5A & data[i];
        EXPECT_EQ(word[i] & ~0x5A, 0) << "a program never sets a bit";
        EXPECT_EQ(word[i] & target, target) << "nor clears one it was not asked to";
        seen.whole |= word[i] == target && target != 0x5A;
        seen.untouched |= word[i] == 0x5A && target != 0x5A;
        seen.partial |= word[i] != 0x5A && word[i] != target;
      }
      EXPECT_EQ(rig.at(0x0FFF), 0x5A);
      EXPECT_EQ(rig.at(0x1004), 0x5A);
    }
  }
  EXPECT_TRUE(seen.whole && seen.untouched && seen.partial);
}

TEST(EmulatedAdapterPower, AnEraseCutShortErasesALeadingRunAndKeepsOrGarblesTheRest) {
  TornOutcome seen;
  bool headKeptOverErasedBytes = false;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    std::vector<uint8_t> first;
    for (int repeat = 0; repeat < 2; ++repeat) {
      Rig rig(quick());
      rig.adapter.cutPowerDuring(1, seed);
      rig.raw.writeEnable();
      rig.raw.erase(0x20, 0x2000);  // 4 KiB
      const std::span<const uint8_t> unit = rig.adapter.flash().subspan(0x2000, 0x1000);
      const std::vector<uint8_t> bytes(unit.begin(), unit.end());
      if (repeat == 0) first = bytes;
      EXPECT_EQ(bytes, first) << "seed " << seed << " gives one result";
      EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(),
                              [](uint8_t b) { return b == 0xFF || b == 0x5A; }));
      EXPECT_EQ(rig.at(0x1FFF), 0x5A);
      EXPECT_EQ(rig.at(0x3000), 0x5A);
      const auto erased = std::count(bytes.begin(), bytes.end(), 0xFF);
      seen.whole |= erased == 0x1000;
      seen.untouched |= erased == 0;
      seen.partial |= erased != 0 && erased != 0x1000;
      headKeptOverErasedBytes |= bytes[3] == 0x5A && bytes[0] == 0xFF;
    }
  }
  EXPECT_TRUE(seen.untouched && seen.partial);
  EXPECT_TRUE(headKeptOverErasedBytes) << "a garbled unit may keep a byte past erased ones";
}

// At bit level the cells of the unit rise each on its own: past the erased leading run a byte
// may keep some of its programmed bits and lose others, so a two-bit field of 0b00 may read 0b01
// or 0b10. An erase never clears a bit, and the same seed gives the same result.
TEST(EmulatedAdapterPower, AnEraseCutShortAtBitLevelLeavesBytesWithSomeBitsErased) {
  bool someBitsErased = false;
  bool fieldHalfErased = false;
  AdapterConfig config = quick();
  config.tornErase = TornErase::kBits;
  for (uint64_t seed = 1; seed <= 40; ++seed) {
    std::vector<uint8_t> first;
    for (int repeat = 0; repeat < 2; ++repeat) {
      Rig rig(config);
      std::fill_n(rig.adapter.flash().begin() + 0x2000, 0x1000, 0x00);
      rig.adapter.cutPowerDuring(1, seed);
      rig.raw.writeEnable();
      rig.raw.erase(0x20, 0x2000);
      const std::span<const uint8_t> unit = rig.adapter.flash().subspan(0x2000, 0x1000);
      const std::vector<uint8_t> bytes(unit.begin(), unit.end());
      if (repeat == 0) first = bytes;
      EXPECT_EQ(bytes, first) << "seed " << seed << " gives one result";
      EXPECT_EQ(rig.at(0x1FFF), 0x5A);
      EXPECT_EQ(rig.at(0x3000), 0x5A);
      for (uint8_t byte : bytes)
        someBitsErased |= byte != 0x00 && byte != 0xFF;
      const uint8_t field = bytes[3] >> 6;
      fieldHalfErased |= field == 0b01 || field == 0b10;
    }
  }
  EXPECT_TRUE(someBitsErased);
  EXPECT_TRUE(fieldHalfErased);
}

// The configured flash fault strikes the n-th program or erase command only (counted as a power
// cut counts them): ignored, one bit left as it was, or the part busy for good afterwards.
TEST(EmulatedAdapterFaults, TheNthProgramOrEraseGoesWrongAsConfigured) {
  struct Case {
    const char* name;
    FlashFault fault;
    bool erase;         // the second command is an erase of the unit at 0x1000, else a program
    uint8_t firstByte;  // what 0x1000 holds afterwards (0x5A before)
    bool stuck;         // the part stays busy
  };
  const Case cases[] = {
      {"ignored program", FlashFault::kIgnored, false, 0x5A, false},
      {"program with a bit kept", FlashFault::kWrongBit, false, 0x02, false},
      {"program, then stuck", FlashFault::kStuck, false, 0x00, true},
      {"ignored erase", FlashFault::kIgnored, true, 0x5A, false},
      {"erase with a bit kept", FlashFault::kWrongBit, true, 0xFE, false},
      {"erase, then stuck", FlashFault::kStuck, true, 0xFF, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AdapterConfig config = quick();
    config.flashFaultAt = 2;
    config.flashFault = c.fault;
    Rig rig(config);
    rig.raw.writeEnable();
    rig.raw.program(0x0000, 0);  // the first command is carried out as it should
    ASSERT_TRUE(rig.raw.waitPart());
    EXPECT_EQ(rig.at(0x0000), 0x00);
    EXPECT_FALSE(rig.adapter.stats().flashFaultStruck);
    rig.raw.writeEnable();
    if (c.erase) {
      rig.raw.erase(0x20, 0x1000);
    } else {
      rig.raw.program(0x1000, 0);
    }
    EXPECT_EQ(rig.at(0x1000), c.firstByte);
    if (c.fault != FlashFault::kIgnored) {
      EXPECT_EQ(rig.at(0x1001), c.erase ? 0xFF : 0x00) << "the rest of the command is done";
    }
    EXPECT_TRUE(rig.adapter.stats().flashFaultStruck);
    if (c.stuck) {
      rig.clock.advance(1000000000);  // far past any busy time
      EXPECT_EQ(rig.raw.status() & 0x01, 0x01);
      continue;
    }
    ASSERT_TRUE(rig.raw.waitPart());
    rig.raw.writeEnable();
    rig.raw.program(0x1004, 0);  // the next one is carried out again
    ASSERT_TRUE(rig.raw.waitPart());
    EXPECT_EQ(rig.at(0x1004), 0x00);
    EXPECT_EQ(rig.adapter.violations(), 0u);
  }
}

TEST(EmulatedAdapterPower, ConfiguredTornCutStrikesTheNthCommand) {
  AdapterConfig config = quick();
  config.powerCutAfter = 2;
  config.powerCutTorn = true;
  bool sawPartial = false;
  for (uint64_t seed = 1; seed <= 20 && !sawPartial; ++seed) {
    config.tornSeed = seed;
    Rig rig(config);
    rig.raw.writeEnable();
    rig.raw.program(0x000, 0);
    rig.raw.waitPart();
    rig.raw.writeEnable();
    rig.raw.program(0x100, 0);
    EXPECT_EQ(rig.at(0x000), 0x00) << "the first command is whole";
    EXPECT_TRUE(rig.adapter.poweredOff());
    sawPartial |= rig.at(0x100) != 0x00;
  }
  EXPECT_TRUE(sawPartial);
}

TEST(EmulatedAdapterPower, ConfiguredCutOfZeroStartsWithoutPower) {
  AdapterConfig config;
  config.powerCutAfter = 0;
  Rig rig(config);
  EXPECT_TRUE(rig.adapter.poweredOff());
  EXPECT_EQ(rig.adapter.read32(reg::kFlashData), 0xFFFFFFFFu);
}

TEST(EmulatedAdapterRegisters, UnclaimedRegistersReadZeroAndAreCounted) {
  Rig rig;
  EXPECT_EQ(rig.adapter.read32(0x9000), 0u);
  rig.adapter.write32(0x9000, 1);
  EXPECT_EQ(rig.adapter.read32(0x102), 0u) << "unaligned offsets belong to no block";
  EXPECT_EQ(rig.adapter.stats().unclaimedAccesses, 3u);
  rig.adapter.write32(reg::kControlWord, 0x55);
  EXPECT_EQ(rig.adapter.read32(reg::kControlWord), 0x55u);
  EXPECT_EQ(rig.adapter.stats().unclaimedAccesses, 3u);
}

TEST(EmulatedAdapterRegisters, ABlockAddedLaterTakesOverARegister) {
  class Fixed : public RegisterBlock {
   public:
    bool claims(uint32_t offset) const override { return offset == reg::kControlWord; }
    uint32_t read(uint32_t) override { return 0xC0FFEE; }
    void write(uint32_t, uint32_t) override {}
  };
  Rig rig;
  rig.adapter.addBlock(std::make_unique<Fixed>());
  rig.adapter.write32(reg::kControlWord, 1);
  EXPECT_EQ(rig.adapter.read32(reg::kControlWord), 0xC0FFEEu);
  EXPECT_EQ(rig.adapter.controlWord().value(), 0u);
}

TEST(EmulatedAdapterRegisters, EveryAccessCostsVirtualTime) {
  Rig rig({}, /*openInterface=*/false);
  const uint64_t start = rig.clock.now();
  rig.adapter.read32(reg::kFlashCommand);
  EXPECT_EQ(rig.clock.now() - start, 1000u);
  rig.adapter.write32(reg::kFlashFormat, 0);
  EXPECT_EQ(rig.clock.now() - start, 1250u);
  const AdapterStats stats = rig.adapter.stats();
  EXPECT_EQ(stats.regReads, 1u);
  EXPECT_EQ(stats.regWrites, 1u);
  EXPECT_EQ(stats.virtualNs, rig.clock.now());
}

TEST(EmulatedAdapterFaults, StuckEngineAndStuckPartStayBusy) {
  AdapterConfig engine;
  engine.engineStuck = true;
  Rig stuckEngine(engine);
  EXPECT_FALSE(stuckEngine.raw.waitEngine());

  AdapterConfig part;
  part.partStuck = true;
  Rig stuckPart(part);
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(stuckPart.raw.status() & 0x01, 0x01);
  EXPECT_EQ(stuckPart.adapter.violations(), 0u) << "status reads are allowed while busy";
}

// The signals the test hooks raise, in the order they arrive.
std::vector<int> gSignalsRaised;
void recordSignal(int signalNumber) {
  gSignalsRaised.push_back(signalNumber);
}

// Catches the four signals the hooks may raise for one scope.
class CaughtSignals {
 public:
  CaughtSignals() {
    gSignalsRaised.clear();
    for (std::size_t i = 0; i < kSignals.size(); ++i)
      previous_[i] = std::signal(kSignals[i], &recordSignal);
  }
  ~CaughtSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i)
      std::signal(kSignals[i], previous_[i]);
  }

 private:
  static constexpr std::array<int, 4> kSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  std::array<void (*)(int), 4> previous_{};
};

TEST(EmulatedAdapterSignals, TheChosenSignalIsRaisedRightAfterTheNthCommandReadsIncluded) {
  CaughtSignals caught;
  AdapterConfig config;
  config.testSignal = SIGTERM;
  config.signalAtCommand = 3;
  Rig rig(config);
  rig.raw.status();
  rig.raw.simple(0x06);
  EXPECT_TRUE(gSignalsRaised.empty());
  EXPECT_EQ(rig.adapter.stats().commands, 2u);
  rig.raw.status();  // the third command: a status read
  EXPECT_EQ(gSignalsRaised, std::vector<int>{SIGTERM});
  rig.raw.status();
  EXPECT_EQ(gSignalsRaised, std::vector<int>{SIGTERM}) << "only once";
}

TEST(EmulatedAdapterSignals, SignalsComeAtTheirVirtualTimesWhateverTheOrderTheyWereSetIn) {
  CaughtSignals caught;
  AdapterConfig late;
  late.testSignal = SIGHUP;
  late.signalAtUs = 2000;
  AdapterConfig early;
  early.testSignal = SIGQUIT;
  early.signalAtUs = 1000;
  // Two adapters of one machine share its clock; each one's alarm stands.
  VirtualClock clock;
  EmulatedAdapter first(late, clock);
  EmulatedAdapter second(early, clock);
  clock.advance(999000);
  EXPECT_TRUE(gSignalsRaised.empty());
  clock.advance(1000);
  EXPECT_EQ(gSignalsRaised, std::vector<int>{SIGQUIT});
  clock.advance(5000000);  // one step past both
  EXPECT_EQ(gSignalsRaised, (std::vector<int>{SIGQUIT, SIGHUP}));
  clock.advance(5000000);
  EXPECT_EQ(gSignalsRaised.size(), 2u) << "each alarm rings once";
}

}  // namespace
}  // namespace hlv::sim
