// The emulated adapter's firmware side: hardware semaphores, the MDIO interface and its PHY, and
// the firmware control registers (the fuses have tests of their own). Each is driven register by
// register, with good and wrong sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/register_map.h"
#include "sim/emulated_adapter.h"
#include "tests/support/adapter_rig.h"

namespace hlv::sim {
namespace {

// An adapter with this firmware side; the tests count the violations themselves.
struct Rig : test::AdapterRig {
  explicit Rig(const FirmwareConfig& firmware = {})
      : AdapterRig(withFirmware(firmware), test::TrafficCheck::kCountedByTheTest) {}

  // One MDIO frame, waited for; the data register after it.
  void frame(uint32_t command) {
    write(reg::kMdioCommand, command);
    while ((read(reg::kMdioCommand) & reg::kMdioBusy) != 0) {
    }
  }
  uint16_t mdioRead(uint32_t phy, uint32_t device, uint32_t address) {
    const uint32_t port = phy << 5 | device;
    write(reg::kMdioRegisterAddress, address);
    frame(reg::kMdioAddressFrame | port);
    frame(reg::kMdioReadFrame | port);
    return static_cast<uint16_t>(read(reg::kMdioReadData));
  }
  void mdioWrite(uint32_t phy, uint32_t device, uint32_t address, uint16_t value) {
    const uint32_t port = phy << 5 | device;
    write(reg::kMdioRegisterAddress, address);
    frame(reg::kMdioAddressFrame | port);
    write(reg::kMdioWriteData, value);
    frame(reg::kMdioWriteFrame | port);
  }
};

TEST(HardwareSemaphores, AReadGrantsAFreeSemaphoreAndOnlyItsHolderReleasesIt) {
  Rig rig;
  for (uint32_t offset : {reg::kMdioSemaphore, reg::kFuseSemaphore}) {
    EXPECT_NE(rig.read(offset), 0u);
    EXPECT_EQ(rig.read(offset), 0u) << "taken, for its holder too";
    EXPECT_TRUE(rig.adapter.stats().semaphoreHeld);
    rig.write(offset, 0);
    EXPECT_EQ(rig.read(offset), 0u) << "only 1 releases";
    rig.write(offset, 1);
    EXPECT_FALSE(rig.adapter.stats().semaphoreHeld);
    EXPECT_EQ(rig.adapter.violations(), 0u);
    rig.write(offset, 1);  // nobody holds it now
    EXPECT_EQ(rig.violations(Violation::kReleaseWithoutHolding), 1u) << std::hex << offset;
    EXPECT_NE(rig.read(offset), 0u);
    rig.write(offset, 1);
    rig.adapter.resetStats();
  }
}

TEST(HardwareSemaphores, AFirmwareHoldingOneTakesItBackWheneverItIsReleased) {
  FirmwareConfig firmware;
  firmware.mdioSemaphoreHeld = true;
  Rig rig(firmware);
  EXPECT_EQ(rig.read(reg::kMdioSemaphore), 0u);
  rig.write(reg::kMdioSemaphore, 1);
  EXPECT_EQ(rig.violations(Violation::kReleaseWithoutHolding), 1u) << "the program never held it";
  EXPECT_EQ(rig.read(reg::kMdioSemaphore), 0u);
  EXPECT_TRUE(rig.adapter.semaphores().heldByFirmware(SemaphoreId::kMdio));
  EXPECT_NE(rig.read(reg::kFuseSemaphore), 0u) << "the other one is free";
  EXPECT_FALSE(rig.adapter.semaphores().heldByProgram(SemaphoreId::kMdio));
}

// The firmware uses the MDIO bus, holding its semaphore, at moments drawn from its seed: a take
// then is refused, and the bus is busy; it never takes the semaphore from the program.
TEST(HardwareSemaphores, TheFirmwareTakesTheMdioSemaphoreAtSeededMoments) {
  // Which of 400 takes, one every 250 us, the firmware's uses refuse.
  const auto refusals = [](uint64_t everyUs, uint64_t seed) {
    AdapterConfig config;
    config.timings.firmwareMdioEveryNs = everyUs * 1000;
    config.timings.firmwareMdioSeed = seed;
    VirtualClock clock;
    EmulatedAdapter adapter(config, clock);
    std::vector<int> refused;
    for (int i = 0; i < 400; ++i) {
      if (adapter.read32(reg::kMdioSemaphore) == 0) {
        refused.push_back(i);
        EXPECT_TRUE(adapter.semaphores().heldByFirmware(SemaphoreId::kMdio));
        EXPECT_NE(adapter.read32(reg::kMdioCommand) & reg::kMdioBusy, 0u) << "its frames run";
      } else {
        clock.advance(2000000);  // held through the firmware's moments: it waits
        EXPECT_TRUE(adapter.semaphores().heldByProgram(SemaphoreId::kMdio));
        adapter.write32(reg::kMdioSemaphore, 1);
      }
      clock.advance(250000);
    }
    EXPECT_EQ(adapter.violations(Violation::kReleaseWithoutHolding), 0u);
    return refused;
  };
  const std::vector<int> first = refusals(1000, 3);
  EXPECT_FALSE(first.empty());
  EXPECT_LT(first.size(), 400u);
  EXPECT_EQ(refusals(1000, 3), first) << "the same seed, the same moments";
  EXPECT_NE(refusals(1000, 4), first);
  EXPECT_TRUE(refusals(0, 3).empty()) << "0: the firmware never uses the bus";
}

// The restart the PHY takes: its six writes on device 0x1E, in order.
void restartPhy(Rig& rig, uint32_t phy, uint32_t device = MdioPhy::kVendorDevice) {
  for (const auto& [address, value] : {std::pair<uint16_t, uint16_t>{0xC001, 0x0041},
                                       {0x0000, 0x0000},
                                       {0xC442, 0x0001},
                                       {0xC3FE, 0x0000},
                                       {0x0000, 0x8000},
                                       {0xC001, 0x0000}})
    rig.mdioWrite(phy, device, address, value);
}

TEST(MdioPhy, ThePhyAnswersAtItsAddressOnlyAndReportsEachCompletedRestartOnce) {
  FirmwareConfig firmware;
  firmware.phyAddress = 5;
  Rig rig(firmware);
  rig.read(reg::kMdioSemaphore);
  EXPECT_EQ(rig.mdioRead(5, 1, 3), MdioPhy::kIdentifier);
  EXPECT_EQ(rig.mdioRead(4, 1, 3), 0xFFFF);
  EXPECT_EQ(rig.mdioRead(5, 0x1E, 0x1000) & 0x8, 0x8);
  rig.mdioWrite(5, 0x1E, 0x1000, 0x2044);
  EXPECT_EQ(rig.mdioRead(5, 0x1E, 0x1000), 0x2044);
  rig.mdioWrite(4, 0x1E, 0x1000, 0x0000);
  EXPECT_EQ(rig.mdioRead(5, 0x1E, 0x1000), 0x2044) << "a write elsewhere reaches nobody";

  const uint16_t count = rig.mdioRead(5, 0x1E, MdioPhy::kRestartCount);
  EXPECT_EQ(rig.mdioRead(5, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0)
      << "no restart has completed since power-on";
  restartPhy(rig, 4);
  restartPhy(rig, 5, 0x1F);
  rig.waitMs(200);
  EXPECT_EQ(rig.adapter.stats().phyRestarts, 0u) << "sent elsewhere";
  EXPECT_EQ(rig.mdioRead(5, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0);
  restartPhy(rig, 5);
  EXPECT_EQ(rig.adapter.stats().phyRestarts, 1u);
  rig.waitMs(30);
  EXPECT_EQ(rig.mdioRead(5, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0) << "restarting";
  rig.waitMs(100);
  EXPECT_NE(rig.mdioRead(5, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0);
  EXPECT_EQ(rig.mdioRead(5, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0) << "reported once";
  EXPECT_NE(rig.mdioRead(5, 0x1E, MdioPhy::kRestartCount), count);
  EXPECT_EQ(rig.adapter.violations(), 0u);
}

TEST(MdioPhy, WithoutAPhyOrWhenItIsStuck) {
  FirmwareConfig none;
  none.phy = false;
  Rig absent(none);
  absent.read(reg::kMdioSemaphore);
  for (uint32_t address = 0; address < 32; ++address)
    EXPECT_EQ(absent.mdioRead(address, 1, 3), 0xFFFF) << address;

  FirmwareConfig stuck;
  stuck.phyStuck = true;
  Rig rig(stuck);
  rig.read(reg::kMdioSemaphore);
  restartPhy(rig, 1);
  EXPECT_EQ(rig.adapter.stats().phyRestarts, 1u);
  rig.waitMs(60000);
  EXPECT_EQ(rig.mdioRead(1, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0);
  EXPECT_EQ(rig.adapter.violations(), 0u);
}

// The breaks of the MDIO protocol, each counted by its kind, and what the interface does with
// them.
TEST(MdioPhy, AccessesWithoutTheSemaphoreOrWhileBusyAreCounted) {
  struct Case {
    const char* what;
    std::function<void(Rig&)> run;
    Violation kind;
  };
  const Case cases[] = {
      {"a read without the semaphore", [](Rig& r) { r.mdioRead(1, 1, 3); },
       Violation::kMdioWithoutSemaphore},
      {"the register address written before the take",
       [](Rig& r) {
         r.write(reg::kMdioRegisterAddress, 3);
         r.read(reg::kMdioSemaphore);
       },
       Violation::kMdioWithoutSemaphore},
      {"the data read after the release",
       [](Rig& r) {
         r.read(reg::kMdioSemaphore);
         r.frame(reg::kMdioAddressFrame | 0x21);
         r.frame(reg::kMdioReadFrame | 0x21);
         r.write(reg::kMdioSemaphore, 1);
         r.read(reg::kMdioReadData);
       },
       Violation::kMdioWithoutSemaphore},
      {"the busy bit polled without the semaphore", [](Rig& r) { r.read(reg::kMdioCommand); },
       Violation::kMdioWithoutSemaphore},
      {"a frame started while one runs",
       [](Rig& r) {
         r.read(reg::kMdioSemaphore);
         r.write(reg::kMdioCommand, reg::kMdioAddressFrame | 0x21);
         r.write(reg::kMdioCommand, reg::kMdioReadFrame | 0x21);
       },
       Violation::kMdioWhileBusy},
      {"the address changed while a frame runs",
       [](Rig& r) {
         r.read(reg::kMdioSemaphore);
         r.write(reg::kMdioCommand, reg::kMdioAddressFrame | 0x21);
         r.write(reg::kMdioRegisterAddress, 5);
       },
       Violation::kMdioWhileBusy},
      {"the data read before the read frame ended",
       [](Rig& r) {
         r.read(reg::kMdioSemaphore);
         r.frame(reg::kMdioAddressFrame | 0x21);
         r.write(reg::kMdioCommand, reg::kMdioReadFrame | 0x21);
         EXPECT_NE(r.read(reg::kMdioReadData), 0x7431u) << "the data are not there yet";
       },
       Violation::kMdioWhileBusy},
      {"a frame with the divider 4",
       [](Rig& r) {
         r.write(reg::kMdioSetup, 4u << 5 | 1);
         r.read(reg::kMdioSemaphore);
         EXPECT_EQ(r.mdioRead(1, 1, 3), 0xFFFF) << "the PHY cannot follow";
       },
       Violation::kMdioNotSetUp},
      {"a frame on a disabled interface",
       [](Rig& r) {
         r.write(reg::kMdioSetup, 8u << 5 | 3);
         r.read(reg::kMdioSemaphore);
         EXPECT_EQ(r.mdioRead(1, 1, 3), 0xFFFF);
       },
       Violation::kMdioNotSetUp},
  };
  for (const Case& c : cases) {
    Rig rig;
    c.run(rig);
    EXPECT_GE(rig.violations(c.kind), 1u) << c.what;
    EXPECT_EQ(rig.adapter.violations(), rig.violations(c.kind)) << c.what << ": another kind";
  }
  // The setup and the wait for the interface to take it need no semaphore; the poll goes on
  // needing it once the interface has read idle.
  Rig setup;
  setup.write(reg::kMdioSetup, 0x101);
  while ((setup.read(reg::kMdioCommand) & reg::kMdioBusy) != 0) {
  }
  EXPECT_EQ(setup.adapter.violations(), 0u) << "the setup needs no semaphore";
  setup.read(reg::kMdioCommand);
  EXPECT_EQ(setup.violations(Violation::kMdioWithoutSemaphore), 1u);
}

TEST(FirmwareControl, TellsWhichInterfaceTheFirmwareOffers) {
  struct Case {
    FirmwareKind kind;
    uint32_t word;   // 0x388
    bool silent;     // 0x704 reads 0x6000000
    bool answering;  // 0x18 non-zero
  };
  const Case cases[] = {
      {FirmwareKind::kInterface1, 0, false, true},
      {FirmwareKind::kInterface2, FirmwareControl::kInterface2Word, false, true},
      {FirmwareKind::kNone, 0, true, false},
  };
  for (const Case& c : cases) {
    FirmwareConfig firmware;
    firmware.kind = c.kind;
    Rig rig(firmware);
    EXPECT_EQ(rig.read(reg::kFirmwareInterface2Word), c.word);
    EXPECT_EQ(rig.read(reg::kFirmwareState) == reg::kFirmwareStateSilent, c.silent);
    EXPECT_EQ(rig.read(reg::kFirmwareAlive) != 0, c.answering);
    rig.write(reg::kFirmwareInterface2Word, 0xDEAD);
    EXPECT_EQ(rig.read(reg::kFirmwareInterface2Word),
              c.kind == FirmwareKind::kInterface2 ? 0xDEADu : 0u);
  }
}

// The blocks stopped in their order, then the reset word written back with bit 15: the reset.
void globalReset(Rig& rig) {
  for (uint32_t block : {reg::kBlockControlB, reg::kBlockControlC, reg::kBlockControlA})
    rig.write(block, rig.read(block) & ~reg::kBlockRun);
  rig.write(reg::kGlobalReset, (rig.read(reg::kGlobalReset) & 0x3FFF) | 0x8000);
}

TEST(FirmwareControl, AGlobalResetSilencesTheFirmwareUntilItHasBooted) {
  struct Case {
    FirmwareKind kind;
    bool stuck;
  };
  for (const Case c :
       {Case{FirmwareKind::kInterface1, false}, Case{FirmwareKind::kInterface2, false},
        Case{FirmwareKind::kInterface2, true}}) {
    FirmwareConfig firmware;
    firmware.kind = c.kind;
    firmware.stuck = c.stuck;
    Rig rig(firmware);
    rig.write(reg::kFirmwareInterface2Word, 0xDEAD);
    const uint32_t state = rig.read(reg::kFirmwareState);
    globalReset(rig);
    EXPECT_EQ(rig.adapter.stats().firmwareResets, 1u);
    EXPECT_EQ(rig.read(reg::kGlobalReset), FirmwareControl::kResetWordAtPowerOn)
        << "bit 15 reads 0, the configuration stays";
    EXPECT_NE(rig.read(reg::kFirmwareAlive), 0u) << "the reset has not shown yet";
    EXPECT_EQ(rig.read(reg::kFirmwareState), state);
    EXPECT_FALSE(rig.adapter.firmwareControl().running());
    rig.waitMs(1);
    EXPECT_EQ(rig.read(reg::kFirmwareAlive), 0u);
    EXPECT_EQ(rig.read(reg::kFirmwareState), reg::kFirmwareStateSilent);
    rig.waitMs(10000);
    const bool up = !c.stuck;
    EXPECT_EQ(rig.read(reg::kFirmwareAlive) != 0, up);
    const uint32_t word = rig.read(reg::kFirmwareInterface2Word);
    if (c.kind == FirmwareKind::kInterface2) {
      EXPECT_EQ(word, up ? FirmwareControl::kInterface2Word : 0xDEADu);
    }
    EXPECT_EQ((rig.read(reg::kBlockControlA) & reg::kBlockRun) != 0, up);
    EXPECT_EQ(rig.adapter.violations(), 0u);
  }
}

// How long 0x18 goes on reading the old firmware's answer after the reset word, on the virtual
// clock.
uint64_t staleNs(const AdapterTimings& timings) {
  AdapterConfig config;
  config.timings = timings;
  VirtualClock clock;
  EmulatedAdapter adapter(config, clock);
  for (uint32_t block : {reg::kBlockControlB, reg::kBlockControlC, reg::kBlockControlA})
    adapter.write32(block, adapter.read32(block) & ~reg::kBlockRun);
  adapter.write32(reg::kGlobalReset, (adapter.read32(reg::kGlobalReset) & 0x3FFF) | 0x8000);
  const uint64_t start = clock.now();
  while (adapter.read32(reg::kFirmwareAlive) != 0) {
  }
  return clock.now() - start;
}

TEST(FirmwareControl, TheResetShowsAfterItsLatencyWithSeededJitter) {
  AdapterTimings timings;
  EXPECT_GE(staleNs(timings), 1000000u) << "1 ms by default";
  EXPECT_LT(staleNs(timings), 1002000u);
  timings.firmwareResetLatencyNs = 0;
  EXPECT_LT(staleNs(timings), 2000u) << "at once";
  timings.firmwareResetLatencyNs = 2000000;
  timings.firmwareResetJitterNs = 8000000;
  std::vector<uint64_t> seen;
  for (uint64_t seed = 1; seed <= 8; ++seed) {
    timings.firmwareResetJitterSeed = seed;
    const uint64_t stale = staleNs(timings);
    EXPECT_EQ(staleNs(timings), stale) << "seed " << seed << " gives one latency";
    EXPECT_GE(stale, 2000000u);
    EXPECT_LT(stale, 10002000u);
    seen.push_back(stale);
  }
  EXPECT_NE(*std::min_element(seen.begin(), seen.end()),
            *std::max_element(seen.begin(), seen.end()));
}

TEST(FirmwareControl, TheInterface1ResetIsDrivenByTheControlWordStepsInOrder) {
  const auto drive = [](Rig& r, const std::vector<std::pair<uint32_t, uint32_t>>& writes) {
    for (const auto& [offset, value] : writes) {
      if (offset == reg::kGlobalReset) {
        r.write(offset, (r.read(offset) & 0x3FFF) | value);
      } else {
        r.write(offset, value);
      }
      if (value == 0x40E1) r.waitMs(50);  // the firmware stops its blocks
      if (offset == reg::kFirmwareControlBits && value != 0) r.waitMs(10);  // the pulse
    }
    r.waitMs(100);
    return (r.read(reg::kFirmwareState) & reg::kFirmwareStateResetDone) != 0;
  };
  Rig good;
  EXPECT_TRUE(drive(good, {{reg::kControlWord, 0x40E1},
                           {reg::kFirmwareControlBits, 0x10},
                           {reg::kGlobalReset, 0x8000},
                           {reg::kControlWord, 0x80E0},
                           {reg::kFirmwareScratch, 0},
                           {reg::kInterface1Reset, 1},
                           {reg::kFirmwareControlBits, 0x10},
                           {reg::kFirmwareControlBits, 0},
                           {reg::kControlWord, 0x180E0}}));
  EXPECT_EQ(good.adapter.controlWord().value(), 0x180E0u) << "the control word keeps its value";
  EXPECT_TRUE(good.adapter.semaphores().heldByFirmware(SemaphoreId::kMdio))
      << "until the reset is closed";
  EXPECT_EQ(good.adapter.violations(), 0u);
  good.write(reg::kControlWord, 0x80E0);
  good.waitMs(50);
  good.write(reg::kMdioSemaphore, 1);
  globalReset(good);
  good.waitMs(1000);
  EXPECT_EQ(good.read(reg::kFirmwareState) & reg::kFirmwareStateResetDone, 0u)
      << "the restarted firmware starts over";
  EXPECT_EQ(good.adapter.violations(), 0u);

  Rig skipped;
  EXPECT_FALSE(drive(skipped, {{reg::kControlWord, 0x40E1}, {reg::kControlWord, 0x180E0}}));
  EXPECT_EQ(skipped.violations(Violation::kFirmwareResetOutOfOrder), 1u);
}

TEST(EmulatedAdapterInterrupt, SigintIsRaisedRightAfterTheChosenGrant) {
  static int raised = 0;
  raised = 0;
  auto* previous = std::signal(SIGINT, [](int) { ++raised; });
  FirmwareConfig firmware;
  firmware.interruptAtGrant = 2;
  Rig rig(firmware);
  rig.read(reg::kMdioSemaphore);
  EXPECT_EQ(raised, 0);
  rig.read(reg::kMdioSemaphore);  // taken: no grant
  rig.write(reg::kMdioSemaphore, 1);
  rig.read(reg::kFuseSemaphore);
  EXPECT_EQ(raised, 1);
  rig.write(reg::kFuseSemaphore, 1);
  rig.read(reg::kFuseSemaphore);
  EXPECT_EQ(raised, 1) << "only once";
  std::signal(SIGINT, previous);
}

}  // namespace
}  // namespace hlv::sim
