// Drives an emulated adapter's firmware side (control registers, MDIO, hardware semaphores)
// register by register, the way a program would, with sleeps on the adapter's virtual clock, so
// that tests can send both good and wrong sequences.
#pragma once

#include <cstdint>

#include "device/register_map.h"
#include "sim/emulated_adapter.h"

namespace hlv::test {

class RawFirmware {
 public:
  explicit RawFirmware(sim::EmulatedAdapter& adapter) : adapter_(adapter) {}

  uint32_t read(uint32_t offset) { return adapter_.read32(offset); }
  void write(uint32_t offset, uint32_t value) { adapter_.write32(offset, value); }
  void setBits(uint32_t offset, uint32_t bits) { write(offset, read(offset) | bits); }
  void clearBits(uint32_t offset, uint32_t bits) { write(offset, read(offset) & ~bits); }
  void sleepMs(uint64_t ms) { adapter_.clock().advance(ms * 1000000); }

  // Reads `offset` until `done` holds, sleeping sleepMs between reads, at most maxSleeps times.
  template <class Done>
  bool poll(uint32_t offset, Done done, uint64_t sleepMs = 10, uint32_t maxSleeps = 1000) {
    for (uint32_t sleeps = 0;; ++sleeps) {
      if (done(read(offset))) return true;
      if (sleeps == maxSleeps) return false;
      this->sleepMs(sleepMs);
    }
  }

  // The MDIO semaphore: read until granted, with 1 ms pauses, for up to a second.
  bool take() {
    return poll(
        reg::kMdioSemaphore, [](uint32_t v) { return v != 0; }, 1, 1000);
  }
  void release() { write(reg::kMdioSemaphore, reg::kSemaphoreRelease); }

  // The interface idle (bit 31 of the command register clear); false when it never was.
  bool waitIdle() {
    for (int i = 0; i < 1000; ++i) {
      if ((read(reg::kMdioCommand) & reg::kMdioBusy) == 0) return true;
    }
    return false;
  }
  void setup(uint32_t divider = 8, bool enable = true) {
    read(reg::kMdioSetup);
    write(reg::kMdioSetup, divider << reg::kMdioSetupDividerShift | reg::kMdioSetupEnable |
                               (enable ? 0 : reg::kMdioSetupDisable));
    waitIdle();
  }
  // One register of a PHY device, the frames waited for; the caller holds the semaphore.
  uint16_t mdioRead(uint32_t phy, uint32_t device, uint32_t address) {
    const uint32_t port = (phy << reg::kMdioPhyShift | device) & reg::kMdioPortMask;
    write(reg::kMdioRegisterAddress, address);
    write(reg::kMdioCommand, reg::kMdioAddressFrame | port);
    waitIdle();
    write(reg::kMdioCommand, reg::kMdioReadFrame | port);
    waitIdle();
    return static_cast<uint16_t>(read(reg::kMdioReadData));
  }
  void mdioWrite(uint32_t phy, uint32_t device, uint32_t address, uint16_t value) {
    const uint32_t port = (phy << reg::kMdioPhyShift | device) & reg::kMdioPortMask;
    write(reg::kMdioRegisterAddress, address);
    write(reg::kMdioCommand, reg::kMdioAddressFrame | port);
    waitIdle();
    write(reg::kMdioWriteData, value);
    write(reg::kMdioCommand, reg::kMdioWriteFrame | port);
    waitIdle();
  }
  // The same with the semaphore taken around the frames; nothing is sent without it (a read
  // then gives 0xFFFFFFFF).
  uint32_t lockedRead(uint32_t phy, uint32_t device, uint32_t address) {
    if (!take()) return 0xFFFFFFFF;
    const uint16_t value = mdioRead(phy, device, address);
    release();
    return value;
  }
  void lockedWrite(uint32_t phy, uint32_t device, uint32_t address, uint16_t value) {
    if (!take()) return;
    mdioWrite(phy, device, address, value);
    release();
  }
  // The first address whose device 1 register 3 answers, each read locked; 0 when none does.
  uint32_t findPhy() {
    for (uint32_t address = 0; address < 32; ++address) {
      if ((lockedRead(address, 1, 3) & 0xFFFF) != 0xFFFF) return address;
    }
    return 0;
  }

 private:
  sim::EmulatedAdapter& adapter_;
};

}  // namespace hlv::test
