#include "update/mdio_access.h"

#include "device/hardware_semaphore.h"
#include "device/register_map.h"
#include "platform/platform.h"
#include "update/mdio_access_trace.h"

namespace hlv {
namespace tp = trace_points::mdio_access;

namespace {

constexpr uint32_t kSemaphorePauseUs = 1000;
constexpr uint32_t kPhyAddresses = 32;
// Device 1 register 3: the PHY's identifier, read to find it.
constexpr uint8_t kSetupDivider = 8;

// Waits for the running frame to end; false when it has not ended within the limit.
bool waitFrame(VoRegControlInterface& reg) {
  platform::Platform& platform = platform::current();
  const uint64_t start = platform.monotonicNanoseconds();
  const uint64_t limitNs = static_cast<uint64_t>(kMdioFrameLimitUs) * 1000;
  while ((reg.read32(reg::kMdioCommand) & reg::kMdioBusy) != 0) {
    if (platform.monotonicNanoseconds() - start >= limitNs) return false;
    platform.yieldProcessor();
  }
  return true;
}

uint32_t port(uint32_t phy, uint32_t device) {
  return ((phy << reg::kMdioPhyShift) | device) & reg::kMdioPortMask;
}

// The address frame that every read and write begins with. The interface may still carry a
// frame of the firmware's when the semaphore is ours: the halting firmware takes the semaphore,
// whose release is left to the program at once, while it may be using the bus. Its registers are
// not written until that frame has ended (a frame's registers written while it runs are lost).
bool addressFrame(VoRegControlInterface& reg, uint32_t a, uint32_t address) {
  if (!waitFrame(reg)) return false;
  reg.write32(reg::kMdioRegisterAddress, address);
  reg.write32(reg::kMdioCommand, reg::kMdioAddressFrame | a);
  return waitFrame(reg);
}

}  // namespace

bool takeHwSemaphore(VoRegControlInterface& reg, uint32_t timeoutMs) {
  uint64_t waitedMs = 0;
  if (takeHardwareSemaphore(reg, reg::kMdioSemaphore, timeoutMs, kSemaphorePauseUs, waitedMs))
    return true;
  trace::emit(tp::kSemaphoreNotGranted, waitedMs);
  return false;
}

void releaseHwSemaphore(VoRegControlInterface& reg) {
  releaseHardwareSemaphore(reg, reg::kMdioSemaphore);
}

void setupMdio(VoRegControlInterface& reg, bool enable, uint8_t divider) {
  trace::emit(tp::kSetup, reg.read32(reg::kMdioSetup), enable, divider);
  reg.write32(reg::kMdioSetup, (static_cast<uint32_t>(divider) << reg::kMdioSetupDividerShift) |
                                   reg::kMdioSetupEnable | (enable ? 0 : reg::kMdioSetupDisable));
  if (!waitFrame(reg)) trace::emit(tp::kSetupBusy);
}

uint32_t mdioRead(VoRegControlInterface& reg, uint32_t phy, uint32_t device, uint32_t address) {
  const uint32_t a = port(phy, device);
  if (!addressFrame(reg, a, address)) {
    trace::emit(tp::kReadAddressTimeout, phy, device, address);
    return kMdioNoValue;
  }
  reg.write32(reg::kMdioCommand, reg::kMdioReadFrame | a);
  if (!waitFrame(reg)) {
    trace::emit(tp::kReadTimeout, phy, device, address);
    return kMdioNoValue;
  }
  return reg.read32(reg::kMdioReadData) & 0xFFFF;
}

void mdioWrite(VoRegControlInterface& reg, uint32_t phy, uint32_t device, uint32_t address,
               uint16_t value) {
  const uint32_t a = port(phy, device);
  if (!addressFrame(reg, a, address)) {
    trace::emit(tp::kWriteDropped, phy, device, address, value);
    return;
  }
  reg.write32(reg::kMdioWriteData, value);
  reg.write32(reg::kMdioCommand, reg::kMdioWriteFrame | a);
  if (!waitFrame(reg)) trace::emit(tp::kWriteTimeout, phy, device, address, value);
}

uint32_t mdioReadLocked(VoRegControlInterface& reg, uint32_t phy, uint32_t address) {
  if (!takeHwSemaphore(reg, kMdioSemaphoreTimeoutMs)) {
    trace::emit(tp::kLockedReadSkipped, phy, address);
    return kMdioNoValue;
  }
  const uint32_t value = mdioRead(reg, phy, kPhyVendorDevice, address);
  releaseHwSemaphore(reg);
  return value;
}

void mdioWriteLocked(VoRegControlInterface& reg, uint32_t phy, uint32_t device, uint32_t address,
                     uint16_t value) {
  if (!takeHwSemaphore(reg, kMdioSemaphoreTimeoutMs)) {
    trace::emit(tp::kLockedWriteSkipped, phy, device, address, value);
    return;
  }
  mdioWrite(reg, phy, device, address, value);
  releaseHwSemaphore(reg);
}

uint16_t findPhyAddress(VoRegControlInterface& reg, bool setupFirst) {
  if (setupFirst) setupMdio(reg, true, kSetupDivider);
  for (uint32_t address = 0; address < kPhyAddresses; ++address) {
    if (!takeHwSemaphore(reg, kMdioSemaphoreTimeoutMs)) {
      trace::emit(tp::kScanSkipped, address);
      continue;
    }
    const uint32_t value =
        mdioRead(reg, address, reg::phy::kIdentifierDevice, reg::phy::kIdentifierRegister);
    releaseHwSemaphore(reg);
    if ((value & 0xFFFF) != kMdioNobody) {
      trace::emit(tp::kPhyFound, address, value);
      return static_cast<uint16_t>(address);
    }
  }
  trace::emit(tp::kNoPhy);
  return 0;
}

}  // namespace hlv
