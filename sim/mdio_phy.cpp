#include "sim/mdio_phy.h"

#include "device/register_map.h"

namespace hlv::sim {
namespace {

constexpr uint16_t kAbsent = 0xFFFF;
// What the firmware leaves in the setup register: the interface enabled, divider 8.
constexpr uint32_t kSetupAtPowerOn = (8u << reg::kMdioSetupDividerShift) | reg::kMdioSetupEnable;
// Register 0x1000 of device 0x1E at power-on, bit 3 among others set.
constexpr uint16_t kRegister1000AtPowerOn = 0x204C;
constexpr uint16_t kRestartCountAtPowerOn = 0x0150;

}  // namespace

MdioPhy::MdioPhy(const AdapterConfig& config, VirtualClock& clock, AdapterStats& stats,
                 const HardwareSemaphores& semaphores)
    : firmware_(config.firmware),
      timings_(config.timings),
      clock_(clock),
      stats_(stats),
      semaphores_(semaphores) {
  powerOn();
}

bool MdioPhy::claims(uint32_t offset) const {
  return offset == reg::kMdioSetup || offset == reg::kMdioCommand ||
         offset == reg::kMdioWriteData || offset == reg::kMdioRegisterAddress ||
         offset == reg::kMdioReadData;
}

void MdioPhy::powerOn() {
  setup_ = kSetupAtPowerOn;
  command_ = 0;
  writeData_ = 0;
  registerAddress_ = 0;
  readData_ = 0;
  frameEnd_ = 0;
  readPending_ = false;
  latchedAddress_.clear();
  registers_.clear();
  registers_[{kVendorDevice, 0x1000}] = kRegister1000AtPowerOn;
  restarts_ = 0;
  readyAt_ = 0;
  restartPending_ = false;
}

bool MdioPhy::phyAt(uint32_t port) const {
  // A disabled interface drives no frames onto the bus.
  const bool enabled =
      (setup_ & reg::kMdioSetupEnable) != 0 && (setup_ & reg::kMdioSetupDisable) == 0;
  return enabled && firmware_.phy && (port >> reg::kMdioPhyShift & 0x1F) == firmware_.phyAddress;
}

uint16_t MdioPhy::phyRead(uint8_t device, uint16_t address) const {
  if (!firmware_.phy) return kAbsent;
  if (device == 1 && address == 3) return kIdentifier;
  if (device == kVendorDevice) {
    if (address == kStatus) {
      const bool ready = !restartPending_ || (!firmware_.phyStuck && clock_.now() >= readyAt_);
      return ready ? kReadyBit : 0;
    }
    if (address == kRestartCount) return static_cast<uint16_t>(kRestartCountAtPowerOn + restarts_);
    if (address == kControl) {
      const auto it = registers_.find({device, address});
      return static_cast<uint16_t>((it == registers_.end() ? 0 : it->second) & ~kRestartBit);
    }
  }
  const auto it = registers_.find({device, address});
  return it == registers_.end() ? 0 : it->second;
}

void MdioPhy::phyWrite(uint8_t device, uint16_t address, uint16_t value) {
  registers_[{device, address}] = value;
  if (device == kVendorDevice && address == kControl && (value & kRestartBit) != 0) {
    ++restarts_;
    ++stats_.phyRestarts;
    restartPending_ = true;
    readyAt_ = clock_.now() + timings_.phyRestartNs;
  }
}

uint16_t MdioPhy::phyRegister(uint8_t device, uint16_t address) const {
  return phyRead(device, address);
}

void MdioPhy::finishFrame() {
  if (readPending_ && !busy()) {
    readData_ = pendingData_;
    readPending_ = false;
  }
}

void MdioPhy::startFrame(uint32_t command) {
  ++stats_.mdioFrames;
  if (!semaphores_.heldByProgram(SemaphoreId::kMdio))
    stats_.record(Violation::kMdioWithoutSemaphore);
  command_ = command & ~reg::kMdioBusy;
  frameEnd_ = clock_.now() + timings_.mdioFrameNs;
  const uint32_t port = command & reg::kMdioPortMask;
  const auto device = static_cast<uint8_t>(port & reg::kMdioDeviceMask);
  switch (command & reg::kMdioFrameMask) {
    case reg::kMdioAddressFrame:
      if (phyAt(port)) latchedAddress_[device] = static_cast<uint16_t>(registerAddress_);
      break;
    case reg::kMdioReadFrame:
      readPending_ = true;
      pendingData_ = phyAt(port) ? phyRead(device, latchedAddress_[device]) : kAbsent;
      break;
    case reg::kMdioWriteFrame:
      if (phyAt(port)) phyWrite(device, latchedAddress_[device], static_cast<uint16_t>(writeData_));
      break;
    default:
      break;  // not a frame the interface knows: it only runs its time
  }
}

uint32_t MdioPhy::read(uint32_t offset) {
  finishFrame();
  switch (offset) {
    case reg::kMdioSetup:
      return setup_;
    case reg::kMdioCommand:
      return command_ | (busy() ? reg::kMdioBusy : 0);
    case reg::kMdioWriteData:
      return writeData_;
    case reg::kMdioRegisterAddress:
      return registerAddress_;
    default:
      if (busy()) stats_.record(Violation::kMdioWhileBusy);
      return readData_;
  }
}

void MdioPhy::write(uint32_t offset, uint32_t value) {
  finishFrame();
  if (offset == reg::kMdioSetup) {
    setup_ = value;
    return;
  }
  if (busy()) {
    // The running frame keeps its registers: what is written now is lost.
    stats_.record(Violation::kMdioWhileBusy);
    return;
  }
  switch (offset) {
    case reg::kMdioCommand:
      startFrame(value);
      break;
    case reg::kMdioWriteData:
      writeData_ = value & 0xFFFF;
      break;
    case reg::kMdioRegisterAddress:
      registerAddress_ = value & 0xFFFF;
      break;
    default:
      break;  // the read data register is read-only
  }
}

}  // namespace hlv::sim
