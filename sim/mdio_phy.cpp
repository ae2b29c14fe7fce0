#include "sim/mdio_phy.h"

#include <algorithm>
#include <span>

#include "device/register_map.h"

namespace hlv::sim {
namespace {

constexpr uint16_t kAbsent = 0xFFFF;
// Register 0x1000 of device 0x1E at power-on, bit 3 among others set.
constexpr uint16_t kRegister1000AtPowerOn = 0x204C;
constexpr uint16_t kRestartCountAtPowerOn = 0x0150;

// The writes that restart the PHY, in the order it takes them (all on the vendor device).
constexpr std::span<const reg::phy::RegisterWrite> kRestartSequence = reg::phy::kRestartWrites;

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
  // The firmware has set the interface up by the time the program can reach it.
  setup_ = firmware_.kind == FirmwareKind::kNone ? 0 : kWorkingSetup;
  setupWait_ = false;
  command_ = 0;
  writeData_ = 0;
  registerAddress_ = 0;
  readData_ = 0;
  frameEnd_ = 0;
  readPending_ = false;
  latchedAddress_.clear();
  registers_.clear();
  registers_[{kVendorDevice, reg::phy::kRegister1000}] = kRegister1000AtPowerOn;
  restartStep_ = 0;
  restarts_ = 0;
  restartUnseen_ = false;
  readyAt_ = 0;
  quietUntil_ = 0;
}

void MdioPhy::chipReset() {
  setup_ = 0;
  setupWait_ = false;
  frameEnd_ = 0;
  readPending_ = false;
}

void MdioPhy::firmwareSetup() {
  setup_ = kWorkingSetup;
}

void MdioPhy::firmwareUse(uint64_t until) {
  // The firmware reads its PHY: its frames take the registers the program's frames use.
  const uint32_t port =
      static_cast<uint32_t>(firmware_.phyAddress) << reg::kMdioPhyShift | kVendorDevice;
  frameEnd_ = std::max(frameEnd_, until);
  readPending_ = false;
  command_ = reg::kMdioReadFrame | port;
  registerAddress_ = kFirmwarePolled;
  const bool answers = setUp() && phyAt(port) && clock_.now() >= quietUntil_;
  if (answers) latchedAddress_[kVendorDevice] = kFirmwarePolled;
  readData_ = answers ? phyRead(kVendorDevice, kFirmwarePolled) : kAbsent;
}

bool MdioPhy::phyAt(uint32_t port) const {
  return firmware_.phy && (port >> reg::kMdioPhyShift & 0x1F) == firmware_.phyAddress;
}

bool MdioPhy::ready() const {
  return restartUnseen_ && !firmware_.phyStuck && clock_.now() >= readyAt_;
}

uint16_t MdioPhy::phyRead(uint8_t device, uint16_t address) const {
  if (!firmware_.phy) return kAbsent;
  if (device == reg::phy::kIdentifierDevice && address == reg::phy::kIdentifierRegister)
    return kIdentifier;
  if (device == kVendorDevice) {
    if (address == kStatus) return ready() ? kReadyBit : 0;
    if (address == kRestartCount) return static_cast<uint16_t>(kRestartCountAtPowerOn + restarts_);
    if (address == kControl) {
      const auto it = registers_.find({device, address});
      return static_cast<uint16_t>((it == registers_.end() ? 0 : it->second) & ~kRestartBit);
    }
  }
  const auto it = registers_.find({device, address});
  return it == registers_.end() ? 0 : it->second;
}

void MdioPhy::startRestart() {
  ++restarts_;
  ++stats_.phyRestarts;
  restartUnseen_ = true;
  readyAt_ = clock_.now() + timings_.phyRestartNs;
  quietUntil_ = clock_.now() + kRestartQuietNs;
}

void MdioPhy::phyWrite(uint8_t device, uint16_t address, uint16_t value) {
  registers_[{device, address}] = value;
  if (device != kVendorDevice) return;
  if (restartStep_ == 0) {
    if (address == kRestartSequence[0].address && value == kRestartSequence[0].value) {
      restartStep_ = 1;
    } else if (address == kControl && (value & kRestartBit) != 0) {
      stats_.record(Violation::kPhyRestartSequence);  // the bit alone restarts nothing
    }
    return;
  }
  const reg::phy::RegisterWrite& expected = kRestartSequence[restartStep_];
  if (address != expected.address || value != expected.value) {
    stats_.record(Violation::kPhyRestartSequence);
    restartStep_ = 0;
    return;
  }
  if (++restartStep_ == kRestartSequence.size()) {
    restartStep_ = 0;
    startRestart();
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

void MdioPhy::checkHolder() {
  if (!semaphores_.heldByProgram(SemaphoreId::kMdio))
    stats_.record(Violation::kMdioWithoutSemaphore);
}

void MdioPhy::startFrame(uint32_t command) {
  ++stats_.mdioFrames;
  if (!setUp()) stats_.record(Violation::kMdioNotSetUp);
  command_ = command & ~reg::kMdioBusy;
  frameEnd_ = clock_.now() + timings_.mdioFrameNs;
  const uint32_t port = command & reg::kMdioPortMask;
  const auto device = static_cast<uint8_t>(port & reg::kMdioDeviceMask);
  bool answers = setUp() && phyAt(port);
  if (answers && clock_.now() < quietUntil_) {
    stats_.record(Violation::kSettleTimeTooShort);  // the PHY is still in its restart
    answers = false;
  }
  switch (command & reg::kMdioFrameMask) {
    case reg::kMdioAddressFrame:
      if (answers) latchedAddress_[device] = static_cast<uint16_t>(registerAddress_);
      break;
    case reg::kMdioReadFrame: {
      readPending_ = true;
      const uint16_t address = latchedAddress_[device];
      pendingData_ = answers ? phyRead(device, address) : kAbsent;
      // The read that sees a completed restart takes the report.
      if (answers && device == kVendorDevice && address == kStatus && ready())
        restartUnseen_ = false;
      break;
    }
    case reg::kMdioWriteFrame:
      if (answers) phyWrite(device, latchedAddress_[device], static_cast<uint16_t>(writeData_));
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
    case reg::kMdioCommand: {
      const bool running = busy();
      if (setupWait_) {
        // Waiting for the interface to take the setup belongs to the setup.
        if (!running) setupWait_ = false;
      } else {
        checkHolder();
      }
      return command_ | (running ? reg::kMdioBusy : 0);
    }
    case reg::kMdioWriteData:
      setupWait_ = false;
      checkHolder();
      return writeData_;
    case reg::kMdioRegisterAddress:
      setupWait_ = false;
      checkHolder();
      return registerAddress_;
    default:
      setupWait_ = false;
      checkHolder();
      if (busy()) stats_.record(Violation::kMdioWhileBusy);
      return readData_;
  }
}

void MdioPhy::write(uint32_t offset, uint32_t value) {
  finishFrame();
  if (offset == reg::kMdioSetup) {
    setup_ = value;
    setupWait_ = true;
    return;
  }
  setupWait_ = false;
  checkHolder();
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
