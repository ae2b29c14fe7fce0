// The flash control object's life: owning the interface, restoring the registers, holding the
// interrupt, refusing requests the part cannot carry out.
#include <gtest/gtest.h>

#include <vector>

#include "flashctl/voapiflashcontrol.h"
#include "platform/interrupt_hold.h"
#include "sim/emulated_adapter.h"
#include "tests/support/adapter_rig.h"

namespace hlv {
namespace {

// The adapter rig with a part on it (the default 2 MiB part unless one is named).
struct Adapter : test::AdapterRig {
  explicit Adapter(uint32_t jedecId = 0xEF6015)
      : AdapterRig(withPart(jedecId), test::TrafficCheck::kExpectClean, "the flash control rig") {}
};

TEST(FlashControlLifecycle, InitOnAnInitialisedObjectTouchesNoRegister) {
  Adapter adapter;
  VoApiFlashControl flash(&adapter.recorder);
  ASSERT_TRUE(flash.init());
  adapter.recorder.accesses.clear();
  EXPECT_TRUE(flash.init());
  EXPECT_TRUE(adapter.recorder.accesses.empty());
}

TEST(FlashControlLifecycle, ASecondObjectCannotClaimTheInterfaceAndRestoresNothing) {
  Adapter first;
  Adapter second;
  VoApiFlashControl owner(&first.recorder);
  ASSERT_TRUE(owner.init());
  {
    VoApiFlashControl intruder(&second.recorder);
    EXPECT_FALSE(intruder.init());
  }
  EXPECT_TRUE(second.recorder.accesses.empty());
  EXPECT_EQ(gVoApiFlashCtrlCtx.ctrl, &owner);
  {
    // Its operations would reach the owner's adapter: they fail and touch nothing.
    VoApiFlashControl intruder(&second.recorder);
    EXPECT_FALSE(intruder.init());
    first.recorder.accesses.clear();
    uint8_t buffer[4] = {1, 2, 3, 4};
    uint32_t done = 0;
    EXPECT_FALSE(intruder.read(0, buffer, 4, done));
    EXPECT_FALSE(intruder.write(0, buffer, 4, done));
    EXPECT_FALSE(intruder.write(0, buffer, 0, done));
    EXPECT_FALSE(intruder.eraseSector(0));
    EXPECT_FALSE(intruder.eraseBlock(0));
    EXPECT_TRUE(first.recorder.accesses.empty());
    EXPECT_TRUE(second.recorder.accesses.empty());
  }
  // The owner still works.
  uint8_t byte = 0;
  uint32_t done = 0;
  EXPECT_TRUE(owner.read(0, &byte, 1, done));
}

TEST(FlashControlLifecycle, DestructionRestoresTheSavedRegistersAndReleasesTheInterface) {
  Adapter adapter;
  adapter.adapter.write32(reg::kControlWord, 0x1234);
  adapter.adapter.write32(reg::kFlashFormat, 0x0100);
  adapter.adapter.write32(reg::kFlashInterfaceControl, 0x0077);
  adapter.adapter.write32(reg::kFlashCommand, 0x0005);
  {
    VoApiFlashControl flash(&adapter.recorder);
    ASSERT_TRUE(flash.init());
    EXPECT_EQ(adapter.adapter.read32(reg::kFlashInterfaceControl), 0x0110u);
    uint8_t buffer[8];
    uint32_t done = 0;
    ASSERT_TRUE(flash.read(0x40, buffer, 8, done));
    adapter.recorder.accesses.clear();
  }
  EXPECT_EQ(gVoApiFlashCtrlCtx.ctrl, nullptr);
  const std::vector<test::RegisterAccess> expected = {
      {true, reg::kFlashCommand, 0x0005},
      {true, reg::kFlashInterfaceControl, 0x0077},
      {true, reg::kFlashFormat, 0x0100},
      {true, reg::kControlWord, 0x1234},
  };
  ASSERT_EQ(adapter.recorder.accesses.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(adapter.recorder.accesses[i].write, expected[i].write);
    EXPECT_EQ(adapter.recorder.accesses[i].offset, expected[i].offset);
    EXPECT_EQ(adapter.recorder.accesses[i].value, expected[i].value);
  }
  EXPECT_EQ(adapter.adapter.violations(), 0u);
}

TEST(FlashControlLifecycle, RestoringTheCommandRegisterNeverStartsATransfer) {
  // The command register read busy when the interface was opened: start bit and all.
  class BusyAtOpen : public VoRegControlInterface {
   public:
    explicit BusyAtOpen(VoRegControlInterface& target) : target_(target) {}
    uint32_t read32(uint32_t offset) override {
      const uint32_t value = target_.read32(offset);
      if (offset == reg::kFlashCommand && firstCommandRead_) {
        firstCommandRead_ = false;
        return 0x81D8;  // an erase word still running
      }
      return value;
    }
    void write32(uint32_t offset, uint32_t value) override { target_.write32(offset, value); }

   private:
    VoRegControlInterface& target_;
    bool firstCommandRead_ = true;
  };
  Adapter adapter;
  BusyAtOpen registers(adapter.recorder);
  {
    VoApiFlashControl flash(&registers);
    ASSERT_TRUE(flash.init());
    adapter.recorder.accesses.clear();
  }
  ASSERT_FALSE(adapter.recorder.accesses.empty());
  EXPECT_EQ(adapter.recorder.accesses[0].offset, reg::kFlashCommand);
  EXPECT_EQ(adapter.recorder.accesses[0].value & reg::kFlashCommandStart, 0u);
  EXPECT_TRUE(adapter.recorder.startedOpcodes().empty());
  EXPECT_EQ(adapter.adapter.stats().modifyingTransfers, 0u);
}

TEST(FlashControlLifecycle, AFailedInitKeepsTheInterfaceUntilItsObjectIsGone) {
  Adapter unknown(0x123456);
  Adapter good;
  {
    VoApiFlashControl failed(&unknown.recorder);
    EXPECT_FALSE(failed.init());
    EXPECT_FALSE(failed.init());
    VoApiFlashControl other(&good.recorder);
    EXPECT_FALSE(other.init());
  }
  VoApiFlashControl other(&good.recorder);
  EXPECT_TRUE(other.init());
}

bool gInterruptActionRan = false;

TEST(FlashControlLifecycle, AnInterruptWaitsUntilTheRegistersAreRestored) {
  gInterruptActionRan = false;
  platform::setInterruptAction([] { gInterruptActionRan = true; });
  Adapter adapter;
  {
    VoApiFlashControl flash(&adapter.recorder);
    ASSERT_TRUE(flash.init());
    platform::deliverInterrupt();
    EXPECT_FALSE(gInterruptActionRan);
    EXPECT_TRUE(platform::interruptPending());
  }
  EXPECT_TRUE(gInterruptActionRan);
  // The restore came first.
  EXPECT_EQ(adapter.recorder.accesses.back().offset, reg::kControlWord);
  platform::setInterruptAction(nullptr);
  // Without an owner the interrupt acts at the next checkpoint.
  gInterruptActionRan = false;
  platform::setInterruptAction([] { gInterruptActionRan = true; });
  platform::deliverInterrupt();
  platform::interruptCheckpoint();
  EXPECT_TRUE(gInterruptActionRan);
  platform::setInterruptAction(nullptr);
}

TEST(FlashControlRequests, RequestsPastThePartsEndAreRefusedBeforeAnyTransfer) {
  Adapter adapter;
  VoApiFlashControl flash(&adapter.recorder);
  ASSERT_TRUE(flash.init());
  adapter.recorder.accesses.clear();
  std::vector<uint8_t> buffer(8);
  uint32_t done = 0;
  EXPECT_FALSE(flash.read(flash.flashSize - 4, buffer.data(), 8, done));
  EXPECT_FALSE(flash.read(0xFFFFFFFC, buffer.data(), 8, done));
  EXPECT_FALSE(flash.write(flash.flashSize - 2, buffer.data(), 4, done));
  EXPECT_FALSE(flash.eraseSector(flash.flashSize));
  EXPECT_FALSE(flash.eraseBlock(flash.flashSize));
  EXPECT_TRUE(adapter.recorder.accesses.empty());
  // The last bytes themselves are fine.
  EXPECT_TRUE(flash.read(flash.flashSize - 8, buffer.data(), 8, done));
}

TEST(FlashControlRequests, EraseAddressesMustStartTheirUnit) {
  Adapter adapter;
  VoApiFlashControl flash(&adapter.recorder);
  ASSERT_TRUE(flash.init());
  std::fill_n(adapter.adapter.flash().begin(), 0x20000, 0x00);
  EXPECT_FALSE(flash.eraseSector(0x1800));
  EXPECT_FALSE(flash.eraseBlock(0x1000));
  EXPECT_EQ(adapter.adapter.stats().modifyingTransfers, 0u);
  EXPECT_EQ(adapter.adapter.flash()[0x1000], 0x00);
}

class NoSmallErase : public testing::TestWithParam<uint32_t> {};

TEST_P(NoSmallErase, SectorEraseFailsWithoutSendingAnything) {
  Adapter adapter(GetParam());
  VoApiFlashControl flash(&adapter.recorder);
  ASSERT_TRUE(flash.init());
  ASSERT_EQ(flash.sectorSize, 0u);
  adapter.recorder.accesses.clear();
  for (uint32_t address : {0u, 0x1000u, 0x10000u})
    EXPECT_FALSE(flash.eraseSector(address));
  EXPECT_TRUE(adapter.recorder.accesses.empty());
}

// Types 0, 3, 4 and 6.
INSTANTIATE_TEST_SUITE_P(Parts, NoSmallErase,
                         testing::Values(sim::kShortIdPart, 0x202010u, 0x1F4300u, 0x202013u));

TEST(FlashControlRequestsDeathTest, BlockEraseOnAPartWithoutOneIsAProgrammingError) {
  Adapter adapter(0x202010);
  VoApiFlashControl flash(&adapter.recorder);
  ASSERT_TRUE(flash.init());
  ASSERT_FALSE(flash.blockEraseSupported);
  EXPECT_DEATH(flash.eraseBlock(0), "false");
}

TEST(SplitHalves, LowerThenUpperHalfCostsOneHardwareRead) {
  Adapter adapter;
  VoApiFlashControl flash(&adapter.recorder);
  ASSERT_TRUE(flash.init());
  adapter.adapter.engine().write(reg::kFlashData, 0xAABBCCDD);
  adapter.recorder.accesses.clear();
  EXPECT_EQ(readReg(0, reg::kFlashData) & 0xFFFF, 0xCCDDu);
  EXPECT_EQ(readReg(0, reg::kFlashDataUpper) >> 16, 0xAABBu);
  EXPECT_EQ(adapter.recorder.count(false, reg::kFlashData), 1u);

  // Upper half first: a hardware read of the whole register.
  readReg(0, reg::kFlashCommand);
  adapter.recorder.accesses.clear();
  EXPECT_EQ(readReg(0, reg::kFlashDataUpper) >> 16, 0xAABBu);
  EXPECT_EQ(adapter.recorder.count(false, reg::kFlashData), 1u);
  EXPECT_EQ(adapter.recorder.accesses.size(), 1u);
}

TEST(SplitHalves, UpperThenLowerHalfReachTheHardwareAsOneWrite) {
  Adapter adapter;
  VoApiFlashControl flash(&adapter.recorder);
  ASSERT_TRUE(flash.init());
  adapter.recorder.accesses.clear();
  writeReg(0, reg::kFlashAddressUpper, 0x0012);
  EXPECT_TRUE(adapter.recorder.accesses.empty());
  writeReg(0, reg::kFlashAddress, 0x3456);
  ASSERT_EQ(adapter.recorder.accesses.size(), 1u);
  EXPECT_EQ(adapter.recorder.accesses[0].offset, reg::kFlashAddress);
  EXPECT_EQ(adapter.recorder.accesses[0].value, 0x00123456u);
  // The upper half stays pending: a lower half alone reuses it.
  writeReg(0, reg::kFlashAddress, 0x0001);
  EXPECT_EQ(adapter.recorder.accesses[1].value, 0x00120001u);
  // Other registers pass through.
  writeReg(0, reg::kFlashFormat, 0x0403);
  EXPECT_EQ(adapter.recorder.accesses[2].value, 0x0403u);
}

TEST(SplitHalves, DevicesBeyondTheTablesAreNotReached) {
  Adapter adapter;
  VoApiFlashControl flash(&adapter.recorder);
  ASSERT_TRUE(flash.init());
  adapter.recorder.accesses.clear();
  EXPECT_EQ(readReg(16, reg::kFlashData), 0xFFFFFFFFu);
  writeReg(16, reg::kFlashData, 1);
  EXPECT_TRUE(adapter.recorder.accesses.empty());
}

}  // namespace
}  // namespace hlv
