// The emulated adapter's firmware side: hardware semaphores, the MDIO interface and its PHY, and
// the firmware control registers (the fuses have tests of their own). Each is driven register by
// register, with good and wrong sequences.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/register_map.h"
#include "sim/emulated_adapter.h"

namespace hlv::sim {
namespace {

struct Rig {
  explicit Rig(FirmwareConfig firmware = {}) : adapter(configWith(firmware), clock) {}
  static AdapterConfig configWith(const FirmwareConfig& firmware) {
    AdapterConfig config;
    config.firmware = firmware;
    return config;
  }
  uint32_t read(uint32_t offset) { return adapter.read32(offset); }
  void write(uint32_t offset, uint32_t value) { adapter.write32(offset, value); }
  void waitMs(uint64_t ms) { clock.advance(ms * 1000000); }
  uint64_t violations(Violation kind) const { return adapter.violations(kind); }

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

  VirtualClock clock;
  EmulatedAdapter adapter;
};

TEST(HardwareSemaphores, AReadGrantsAFreeSemaphoreAndWritingOneReleasesIt) {
  Rig rig;
  for (uint32_t offset : {reg::kMdioSemaphore, reg::kFuseSemaphore}) {
    EXPECT_NE(rig.read(offset), 0u);
    EXPECT_EQ(rig.read(offset), 0u) << "taken";
    EXPECT_TRUE(rig.adapter.stats().semaphoreHeld);
    rig.write(offset, 0);
    EXPECT_EQ(rig.read(offset), 0u) << "only 1 releases";
    rig.write(offset, 1);
    EXPECT_FALSE(rig.adapter.stats().semaphoreHeld);
    rig.write(offset, 1);  // released again: harmless
    EXPECT_NE(rig.read(offset), 0u);
    rig.write(offset, 1);
  }
}

TEST(HardwareSemaphores, AFirmwareHoldingOneTakesItBackWheneverItIsReleased) {
  FirmwareConfig firmware;
  firmware.mdioSemaphoreHeld = true;
  Rig rig(firmware);
  EXPECT_EQ(rig.read(reg::kMdioSemaphore), 0u);
  rig.write(reg::kMdioSemaphore, 1);
  EXPECT_EQ(rig.read(reg::kMdioSemaphore), 0u);
  EXPECT_TRUE(rig.adapter.semaphores().heldByFirmware(SemaphoreId::kMdio));
  EXPECT_NE(rig.read(reg::kFuseSemaphore), 0u) << "the other one is free";
  EXPECT_FALSE(rig.adapter.semaphores().heldByProgram(SemaphoreId::kMdio));
}

TEST(MdioPhy, ThePhyAnswersAtItsAddressOnlyAndRestartsWhenToldTo) {
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
  EXPECT_NE(rig.mdioRead(5, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0);
  rig.mdioWrite(5, 0x1E, MdioPhy::kControl, 0x0000);
  EXPECT_EQ(rig.adapter.stats().phyRestarts, 0u);
  rig.mdioWrite(5, 0x1E, MdioPhy::kControl, 0x8000);
  EXPECT_EQ(rig.adapter.stats().phyRestarts, 1u);
  EXPECT_EQ(rig.mdioRead(5, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0);
  rig.waitMs(200);
  EXPECT_NE(rig.mdioRead(5, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0);
  EXPECT_NE(rig.mdioRead(5, 0x1E, MdioPhy::kRestartCount), count);
  EXPECT_EQ(rig.adapter.violations(), 0u);
  EXPECT_EQ(rig.adapter.stats().mdioFrames, 2u * 14);
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
  rig.mdioWrite(1, 0x1E, MdioPhy::kControl, 0x8000);
  rig.waitMs(60000);
  EXPECT_EQ(rig.mdioRead(1, 0x1E, MdioPhy::kStatus) & MdioPhy::kReadyBit, 0);
}

// The breaks of the MDIO protocol, each counted once, and what the interface does with them.
TEST(MdioPhy, FramesWithoutTheSemaphoreOrWhileBusyAreCounted) {
  struct Case {
    const char* what;
    std::function<void(Rig&)> run;
    Violation kind;
    uint64_t count = 1;
  };
  const Case cases[] = {
      {"a read without the semaphore (two frames)", [](Rig& r) { r.mdioRead(1, 1, 3); },
       Violation::kMdioWithoutSemaphore, 2},
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
  };
  for (const Case& c : cases) {
    Rig rig;
    c.run(rig);
    EXPECT_EQ(rig.violations(c.kind), c.count) << c.what;
    EXPECT_EQ(rig.adapter.violations(), c.count) << c.what;
  }
  Rig setup;
  setup.write(reg::kMdioSetup, 0x101);
  EXPECT_EQ(setup.adapter.violations(), 0u) << "the setup write needs no semaphore";
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
    for (uint32_t block : {reg::kBlockControlA, reg::kBlockControlB, reg::kBlockControlC})
      rig.write(block, rig.read(block) & ~reg::kBlockRun);
    rig.write(reg::kGlobalReset, 0x4000 | 0x8000);  // bit 14 set: no reset
    EXPECT_EQ(rig.adapter.stats().firmwareResets, 0u);
    rig.write(reg::kGlobalReset, 0x8000);
    EXPECT_EQ(rig.adapter.stats().firmwareResets, 1u);
    EXPECT_EQ(rig.read(reg::kGlobalReset) & 0x8000, 0u);
    EXPECT_EQ(rig.read(reg::kFirmwareAlive), 0u);
    rig.waitMs(10000);
    const bool up = !c.stuck;
    EXPECT_EQ(rig.read(reg::kFirmwareAlive) != 0, up);
    const uint32_t word = rig.read(reg::kFirmwareInterface2Word);
    if (c.kind == FirmwareKind::kInterface2) {
      EXPECT_EQ(word, up ? FirmwareControl::kInterface2Word : 0xDEADu);
    }
    EXPECT_EQ((rig.read(reg::kBlockControlA) & reg::kBlockRun) != 0, up);
  }
}

TEST(FirmwareControl, TheInterface1ResetIsDrivenByTheControlWordStepsInOrder) {
  const auto drive = [](Rig& r, const std::vector<std::pair<uint32_t, uint32_t>>& writes) {
    for (const auto& [offset, value] : writes)
      r.write(offset, value);
    r.waitMs(100);
    return (r.read(reg::kFirmwareState) & reg::kFirmwareStateResetDone) != 0;
  };
  Rig good;
  EXPECT_TRUE(drive(good, {{reg::kControlWord, 0x40E1},
                           {reg::kGlobalReset, 0x8000},
                           {reg::kControlWord, 0x80E0},
                           {reg::kFirmwareScratch, 0},
                           {reg::kInterface1Reset, 1},
                           {reg::kControlWord, 0x180E0}}));
  EXPECT_EQ(good.adapter.controlWord().value(), 0x180E0u) << "the control word keeps its value";
  EXPECT_EQ(good.adapter.violations(), 0u);
  good.write(reg::kGlobalReset, 0x8000);
  good.waitMs(1000);
  EXPECT_EQ(good.read(reg::kFirmwareState) & reg::kFirmwareStateResetDone, 0u)
      << "the restarted firmware starts over";

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
