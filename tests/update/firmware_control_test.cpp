// The firmware control sequences against the emulated adapter's firmware, PHY and semaphores,
// on virtual time: what each sequence writes, how each wait ends, and that the operator's
// interrupt never leaves a hardware semaphore taken.
#include "update/firmware_control.h"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <tuple>
#include <vector>

#include "device/register_map.h"
#include "engine/firmware_key_check.h"
#include "platform/interrupt_hold.h"
#include "platform/platform.h"
#include "sim/emulated_adapter.h"
#include "tests/support/adapter_rig.h"
#include "update/mdio_access.h"

namespace hlv {
namespace {

using Write = std::pair<uint32_t, uint32_t>;  // register, value
using PhyWrite =
    std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;  // phy, device, register, value

// The adapter rig, with what the firmware control sequences wrote decoded from its recorder.
struct Rig : test::AdapterRig {
  explicit Rig(const sim::FirmwareConfig& firmware = {}) : Rig(withFirmware(firmware)) {}
  explicit Rig(const sim::AdapterConfig& config)
      : AdapterRig(config, test::TrafficCheck::kExpectClean, "the firmware control rig") {}

  // Every write but those of the MDIO frames and of the MDIO semaphore, in order.
  std::vector<Write> controlWrites() const {
    std::vector<Write> writes;
    for (const test::RegisterAccess& a : recorder.accesses) {
      const bool frame = a.offset >= reg::kMdioCommand && a.offset <= reg::kMdioReadData;
      if (a.write && !frame && a.offset != reg::kMdioSemaphore)
        writes.push_back({a.offset, a.value});
    }
    return writes;
  }
  // The PHY registers written, decoded from the frames on the interface.
  std::vector<PhyWrite> phyWrites() const {
    std::vector<PhyWrite> writes;
    uint32_t address = 0;
    uint32_t data = 0;
    for (const test::RegisterAccess& a : recorder.accesses) {
      if (!a.write) continue;
      if (a.offset == reg::kMdioRegisterAddress) address = a.value;
      if (a.offset == reg::kMdioWriteData) data = a.value;
      if (a.offset == reg::kMdioCommand && (a.value & reg::kMdioFrameMask) == reg::kMdioWriteFrame)
        writes.emplace_back(a.value >> 5 & 0x1F, a.value & 0x1F, address, data);
    }
    return writes;
  }
  uint64_t seconds() const { return clock.now() / 1000000000; }
};

sim::FirmwareConfig firmwareOf(sim::FirmwareKind kind) {
  sim::FirmwareConfig firmware;
  firmware.kind = kind;
  return firmware;
}

// The reset word's configuration bits at power-on, kept by every reset, with bit 15 set.
constexpr uint32_t kResetWord = sim::FirmwareControl::kResetWordAtPowerOn | 0x8000;
// What the interface-1 reset writes, the firmware's registers reading as at power-on. The reset
// takes the restart request (0x53C bit 4) with it, so the pulse rises from 0 and falls back.
const std::vector<Write> kResetSequence1Writes = {
    {reg::kControlWord, 0x40E1},       {reg::kFirmwareControlBits, 0x10},
    {reg::kGlobalReset, kResetWord},   {reg::kControlWord, 0x80E0},
    {reg::kFirmwareScratch, 0},        {reg::kInterface1Reset, 1},
    {reg::kFirmwareControlBits, 0x10}, {reg::kFirmwareControlBits, 0},
    {reg::kControlWord, 0x180E0},      {reg::kControlWord, 0x80E0},
};
// The PHY restart: its writes to the vendor device of the PHY at address 1.
const std::vector<PhyWrite> kPhyRestartWrites = {
    {1, 0x1E, 0xC001, 0x0041}, {1, 0x1E, 0x0000, 0x0000}, {1, 0x1E, 0xC442, 0x0001},
    {1, 0x1E, 0xC3FE, 0x0000}, {1, 0x1E, 0x0000, 0x8000}, {1, 0x1E, 0xC001, 0x0000},
};
// Register 0x1000 at power-on is 0x204C: bit 3 cleared.
const std::vector<PhyWrite> kClearBit3Writes = {{1, 0x1E, 0x1000, 0x2044}};
// The firmware's blocks stopped (each reads 0x20000001), then the global reset.
const std::vector<Write> kStopAndReset = {{reg::kBlockControlB, 0x1},
                                          {reg::kBlockControlC, 0x1},
                                          {reg::kBlockControlA, 0x1},
                                          {reg::kGlobalReset, kResetWord}};

TEST(ReloadFirmwareSequence, BringsTheFirmwareUpWritingExactlyItsSequence) {
  struct Case {
    const char* what;
    sim::FirmwareKind kind;
    bool flag;
    std::vector<Write> writes;
    std::vector<PhyWrite> phyWrites;
    uint64_t firmwareResets;
  };
  std::vector<Write> interface1 = kResetSequence1Writes;
  interface1.push_back({reg::kMdioSetup, 0x101});
  std::vector<Write> interface1Full = interface1;
  interface1Full.insert(interface1Full.end(), kStopAndReset.begin(), kStopAndReset.end());
  std::vector<Write> interface2 = {{reg::kControlWord, 0x40E1},
                                   {reg::kFirmwareScratch, 0},
                                   {reg::kFirmwareInterface2Word, 0xDEAD},
                                   {reg::kFirmwareControlBits, 0x10}};
  interface2.insert(interface2.end(), kStopAndReset.begin(), kStopAndReset.end());
  interface2.push_back({reg::kControlWord, 0x40E0});
  const Case cases[] = {
      {"interface 1", sim::FirmwareKind::kInterface1, false, interface1Full, kPhyRestartWrites, 2},
      {"interface 1, flag", sim::FirmwareKind::kInterface1, true, interface1, kPhyRestartWrites, 1},
      {"interface 2", sim::FirmwareKind::kInterface2, false, interface2, kClearBit3Writes, 1},
      {"interface 2, flag", sim::FirmwareKind::kInterface2, true, {}, kClearBit3Writes, 0},
  };
  for (const Case& c : cases) {
    Rig rig(firmwareOf(c.kind));
    EXPECT_EQ(reloadFirmwareSequence(rig.recorder, c.flag), 0u) << c.what;
    EXPECT_EQ(rig.controlWrites(), c.writes) << c.what;
    EXPECT_EQ(rig.phyWrites(), c.phyWrites) << c.what;
    const sim::AdapterStats stats = rig.adapter.stats();
    EXPECT_EQ(stats.violations, 0u) << c.what;
    EXPECT_FALSE(stats.semaphoreHeld) << c.what;
    EXPECT_EQ(stats.firmwareResets, c.firmwareResets) << c.what;
    EXPECT_EQ(stats.phyRestarts, c.kind == sim::FirmwareKind::kInterface1 ? 1u : 0u) << c.what;
    if (!c.flag) {
      EXPECT_TRUE(rig.adapter.firmwareControl().running()) << c.what;
    }
    EXPECT_EQ(rig.adapter.mdio().phyRegister(0x1E, 0x1000) & 0x8,
              c.kind == sim::FirmwareKind::kInterface2 ? 0 : 0x8)
        << c.what;
  }
}

// A firmware that uses the MDIO bus half of the time (0.5 ms about every millisecond): the halt
// request may come while one of its frames runs, and the semaphore it then takes for the halt is
// released to the program at once. The program's frames wait for the bus to be idle; the rig's
// teardown asserts that no frame register was touched while a frame ran.
TEST(ReloadFirmwareSequence, WaitsForTheFirmwaresOwnFrameToEnd) {
  for (const sim::FirmwareKind kind :
       {sim::FirmwareKind::kInterface1, sim::FirmwareKind::kInterface2}) {
    for (uint64_t seed = 1; seed <= 12; ++seed) {
      sim::AdapterConfig config = Rig::withFirmware(firmwareOf(kind));
      config.timings.firmwareMdioEveryNs = 1000000;
      config.timings.firmwareMdioSeed = seed;
      Rig rig(config);
      rig.clock.advance(seed * 137000);  // the request lands at another moment of the bus use
      EXPECT_EQ(reloadFirmwareSequence(rig.recorder, false), 0u)
          << "interface " << static_cast<int>(kind) << ", seed " << seed;
      EXPECT_EQ(rig.adapter.violations(sim::Violation::kMdioWhileBusy), 0u)
          << "interface " << static_cast<int>(kind) << ", seed " << seed;
    }
  }
}

// A firmware state register that never reports the interface-1 reset as done.
class ResetNeverDone : public sim::RegisterBlock {
 public:
  bool claims(uint32_t offset) const override { return offset == reg::kFirmwareState; }
  uint32_t read(uint32_t) override { return sim::FirmwareControl::kInterface1State; }
  void write(uint32_t, uint32_t) override {}
};

TEST(ReloadFirmwareSequence, EachWaitEndsAtItsLimit) {
  struct Case {
    const char* what;
    std::function<void(sim::FirmwareConfig&)> firmware;
    uint32_t status;
    uint64_t atLeastSeconds;  // the virtual time the waits took
    bool resetNeverDone = false;
  };
  const Case cases[] = {
      {"interface 1, the reset never completes", [](sim::FirmwareConfig&) {}, kStatusFirmwareNotUp,
       10, true},
      {"interface 1, the firmware never answers after the reset",
       [](sim::FirmwareConfig& f) { f.stuck = true; }, kStatusFirmwareNotUp, 10},
      {"interface 1, the PHY never becomes ready",
       [](sim::FirmwareConfig& f) { f.phyStuck = true; }, kStatusPhyNotUp, 15},
      {"interface 1, no PHY", [](sim::FirmwareConfig& f) { f.phy = false; }, kStatusPhyNotUp, 15},
      {"interface 1, the MDIO semaphore never granted",
       [](sim::FirmwareConfig& f) { f.mdioSemaphoreHeld = true; }, kStatusPhyNotUp, 1550},
      {"interface 2, the firmware never answers after the reset",
       [](sim::FirmwareConfig& f) {
         f.kind = sim::FirmwareKind::kInterface2;
         f.stuck = true;
       },
       kStatusFirmwareNotUp, 20},
      // The PHY register cannot be reached, which the reload does not report.
      {"interface 2, the MDIO semaphore never granted",
       [](sim::FirmwareConfig& f) {
         f.kind = sim::FirmwareKind::kInterface2;
         f.mdioSemaphoreHeld = true;
       },
       0, 33},
      {"interface 2, no PHY",
       [](sim::FirmwareConfig& f) {
         f.kind = sim::FirmwareKind::kInterface2;
         f.phy = false;
       },
       0, 0},
  };
  for (const Case& c : cases) {
    sim::FirmwareConfig firmware;
    c.firmware(firmware);
    Rig rig(firmware);
    if (c.resetNeverDone) rig.adapter.addBlock(std::make_unique<ResetNeverDone>());
    EXPECT_EQ(reloadFirmwareSequence(rig.recorder, false), c.status) << c.what;
    EXPECT_GE(rig.seconds(), c.atLeastSeconds) << c.what;
    EXPECT_LT(rig.seconds(), c.atLeastSeconds + 10) << c.what;
    EXPECT_EQ(rig.adapter.violations(), 0u) << c.what;
    EXPECT_FALSE(rig.adapter.stats().semaphoreHeld) << c.what;
    if (firmware.mdioSemaphoreHeld) {
      EXPECT_EQ(rig.adapter.stats().mdioFrames, 0u) << c.what;
    }
    if (firmware.kind == sim::FirmwareKind::kInterface2 &&
        (firmware.mdioSemaphoreHeld || !firmware.phy)) {
      EXPECT_TRUE(rig.phyWrites().empty()) << c.what << ": nothing was read, nothing is written";
    }
  }
}

// A 0x18 that answers whatever the firmware does: a reset that never reaches it.
class AlwaysAnswering : public sim::RegisterBlock {
 public:
  bool claims(uint32_t offset) const override { return offset == reg::kFirmwareAlive; }
  uint32_t read(uint32_t) override { return sim::FirmwareControl::kAliveValue; }
  void write(uint32_t, uint32_t) override {}
};

// 0x18 reads what the old firmware left there until the global reset reaches it: the reload
// says the firmware is up only once it has seen it go down and come back.
TEST(ReloadFirmwareSequence, TheAnswerAfterTheGlobalResetCountsOnlyOnceTheFirmwareWentDown) {
  struct Case {
    const char* what;
    uint64_t latencyNs;
    uint64_t jitterNs;
    bool neverDown;
    uint32_t status;
  };
  const Case cases[] = {
      {"the reset shows after 1 ms", 1000000, 0, false, 0},
      {"the reset shows at once", 0, 0, false, 0},
      {"the reset shows after longer than the boot takes", 300000000, 200000000, false, 0},
      {"the reset never shows", 1000000, 0, true, kStatusFirmwareNotUp},
  };
  for (const Case& c : cases) {
    sim::AdapterConfig config;
    config.timings.firmwareResetLatencyNs = c.latencyNs;
    config.timings.firmwareResetJitterNs = c.jitterNs;
    config.timings.firmwareResetJitterSeed = 7;
    Rig rig(config);
    if (c.neverDown) rig.adapter.addBlock(std::make_unique<AlwaysAnswering>());
    EXPECT_EQ(reloadFirmwareSequence(rig.recorder, false), c.status) << c.what;
    if (c.status == 0) {
      EXPECT_TRUE(rig.adapter.firmwareControl().running()) << c.what << ": said up too early";
    } else {
      EXPECT_GE(rig.seconds(), 10u) << c.what;
    }
    EXPECT_EQ(rig.adapter.stats().firmwareResets, 2u) << c.what;
  }
}

TEST(ReloadFirmwareSequence, WithoutFirmwareNothingIsWritten) {
  Rig rig(firmwareOf(sim::FirmwareKind::kNone));
  EXPECT_EQ(reloadFirmwareSequence(rig.recorder, false), kStatusNoFirmwareInterface);
  EXPECT_EQ(rig.recorder.accesses.size(), 2000u) << "1000 passes over two registers";
  EXPECT_TRUE(rig.controlWrites().empty());
  EXPECT_EQ(rig.adapter.stats().regWrites, 0u);
}

TEST(DetectFirmwareInterface, TheInterface2WordWinsWhateverTheStateSays) {
  struct Case {
    sim::FirmwareKind kind;
    FirmwareInterface detected;
  };
  for (const Case c : {Case{sim::FirmwareKind::kInterface1, FirmwareInterface::kInterface1},
                       Case{sim::FirmwareKind::kInterface2, FirmwareInterface::kInterface2},
                       Case{sim::FirmwareKind::kNone, FirmwareInterface::kNone}}) {
    Rig rig(firmwareOf(c.kind));
    EXPECT_EQ(detectFirmwareInterface(rig.recorder), c.detected);
    if (c.detected != FirmwareInterface::kNone) {
      EXPECT_EQ(rig.recorder.accesses.size(), 2u) << "answered at the first pass";
    }
  }
}

// An MDIO interface whose frames never end.
class StuckMdio : public sim::RegisterBlock {
 public:
  bool claims(uint32_t offset) const override { return offset == reg::kMdioCommand; }
  uint32_t read(uint32_t) override { return reg::kMdioBusy; }
  void write(uint32_t, uint32_t) override {}
};

TEST(MdioAccess, FramesThatNeverEndAreGivenUpReadingNothingAndWritingNothing) {
  Rig rig;
  rig.adapter.addBlock(std::make_unique<StuckMdio>());
  ASSERT_TRUE(takeHwSemaphore(rig.recorder, kMdioSemaphoreTimeoutMs));
  const uint64_t start = rig.clock.now();
  EXPECT_EQ(mdioRead(rig.recorder, 1, 0x1E, 0x1000), kMdioNoValue);
  EXPECT_LT(rig.clock.now() - start, 2 * uint64_t{kMdioFrameLimitUs} * 1000);
  EXPECT_EQ(rig.recorder.count(false, reg::kMdioReadData), 0u);
  mdioWrite(rig.recorder, 1, 0x1E, 0x1000, 0x1234);
  EXPECT_EQ(rig.recorder.count(true, reg::kMdioWriteData), 0u);
  releaseHwSemaphore(rig.recorder);

  // The bit-3 clearing reads nothing and so writes nothing.
  clearPhyReg1000Bit3(rig.recorder);
  EXPECT_EQ(rig.recorder.count(true, reg::kMdioWriteData), 0u);
  EXPECT_FALSE(rig.adapter.stats().semaphoreHeld);
}

TEST(FindPhyAddress, TheFirstAddressThatAnswersOrZero) {
  struct Case {
    bool phy;
    uint8_t address;
    uint16_t found;
  };
  for (const Case c : {Case{true, 0, 0}, Case{true, 9, 9}, Case{true, 31, 31}, Case{false, 9, 0}}) {
    sim::FirmwareConfig firmware;
    firmware.phy = c.phy;
    firmware.phyAddress = c.address;
    Rig rig(firmware);
    EXPECT_EQ(findPhyAddress(rig.recorder, true), c.found);
    EXPECT_EQ(rig.recorder.count(true, reg::kMdioSetup), 1u);
    EXPECT_EQ(rig.adapter.violations(), 0u);
  }
}

// The interrupt action records whether a semaphore was held when it ran.
int gInterruptsRun = 0;
bool gRanWhileHeld = false;
sim::EmulatedAdapter* gInterrupted = nullptr;
void recordInterrupt() {
  ++gInterruptsRun;
  gRanWhileHeld = gRanWhileHeld || gInterrupted->semaphores().anyHeldByProgram();
}

// SIGINT arriving right after a semaphore is granted runs only once it has been released, in the
// MDIO sequences and in the fuse check alike.
TEST(HardwareSemaphores, AnInterruptWaitsUntilTheSemaphoreIsReleased) {
  struct Case {
    const char* what;
    std::function<void(sim::FirmwareConfig&)> firmware;
    std::function<void(VoRegControlInterface&)> run;
    std::vector<uint64_t> grants;  // the grants after which SIGINT arrives
  };
  const Case cases[] = {
      {"an interface-1 reload",
       [](sim::FirmwareConfig&) {},
       [](VoRegControlInterface& r) { reloadFirmwareSequence(r, false); },
       {1, 3, 12}},
      {"the fuse check",
       [](sim::FirmwareConfig& f) { f.chipRevision = reg::kChipRevisionWithKeyFuses; },
       [](VoRegControlInterface& r) { checkFirmwareKey(r, {}); },
       {1}},
  };
  platform::setInterruptAction(&recordInterrupt);
  auto* previous = std::signal(SIGINT, [](int) { platform::deliverInterrupt(); });
  for (const Case& c : cases) {
    for (uint64_t grant : c.grants) {
      sim::FirmwareConfig firmware;
      c.firmware(firmware);
      firmware.interruptAtGrant = grant;
      Rig rig(firmware);
      gInterrupted = &rig.adapter;
      gInterruptsRun = 0;
      gRanWhileHeld = false;
      c.run(rig.recorder);
      EXPECT_EQ(gInterruptsRun, 1) << c.what << ", grant " << grant;
      EXPECT_FALSE(gRanWhileHeld) << c.what << ", grant " << grant;
      EXPECT_FALSE(platform::interruptPending());
    }
  }
  std::signal(SIGINT, previous);
  platform::setInterruptAction(nullptr);
  gInterrupted = nullptr;
}

}  // namespace
}  // namespace hlv
