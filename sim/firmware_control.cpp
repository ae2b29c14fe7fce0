#include "sim/firmware_control.h"

#include "device/register_map.h"

namespace hlv::sim {
namespace {

// Control word values that drive the interface-1 reset.
constexpr uint32_t kArm = 0x40E1;
constexpr uint32_t kHold = 0x80E0;
constexpr uint32_t kDrive = 0x180E0;
constexpr uint32_t kInterface1Request = 1;  // written to 0x0520
constexpr uint32_t kInterface2State = 0x06000002;
// Each block control register at power-on: running.
constexpr uint32_t kBlockAtPowerOn = reg::kBlockRun | 0x1;

int blockIndex(uint32_t offset) {
  switch (offset) {
    case reg::kBlockControlA:
      return 0;
    case reg::kBlockControlB:
      return 1;
    case reg::kBlockControlC:
      return 2;
    default:
      return -1;
  }
}

}  // namespace

FirmwareControl::FirmwareControl(const AdapterConfig& config, VirtualClock& clock,
                                 AdapterStats& stats, ControlWord& controlWord)
    : firmware_(config.firmware),
      timings_(config.timings),
      clock_(clock),
      stats_(stats),
      controlWord_(controlWord) {
  powerOn();
}

bool FirmwareControl::claims(uint32_t offset) const {
  switch (offset) {
    case reg::kGlobalReset:
    case reg::kFirmwareAlive:
    case reg::kFirmwareInterface2Word:
    case reg::kControlWord:
    case reg::kInterface1Reset:
    case reg::kFirmwareControlBits:
    case reg::kFirmwareState:
    case reg::kFirmwareScratch:
    case reg::kBlockControlA:
    case reg::kBlockControlB:
    case reg::kBlockControlC:
      return true;
    default:
      return false;
  }
}

void FirmwareControl::powerOn() {
  resetRegister_ = 0;
  booting_ = false;
  bootDoneAt_ = 0;
  interface2Word_ = firmware_.kind == FirmwareKind::kInterface2 ? kInterface2Word : 0;
  interface1Reset_ = 0;
  controlBits_ = 0;
  scratch_ = 0;
  for (uint32_t& block : blocks_)
    block = kBlockAtPowerOn;
  step_ = Interface1Step::kIdle;
  resetDriven_ = false;
  resetDoneAt_ = 0;
}

bool FirmwareControl::running() const {
  if (firmware_.kind == FirmwareKind::kNone) return false;
  return !booting_ || (!firmware_.stuck && clock_.now() >= bootDoneAt_);
}

bool FirmwareControl::interface1ResetDone() const {
  return resetDriven_ && clock_.now() >= resetDoneAt_;
}

void FirmwareControl::settle() {
  if (booting_ && running()) {
    // The firmware has started again: it takes its blocks up and announces its interface.
    booting_ = false;
    for (uint32_t& block : blocks_)
      block |= reg::kBlockRun;
    if (firmware_.kind == FirmwareKind::kInterface2) interface2Word_ = kInterface2Word;
  }
}

void FirmwareControl::globalReset() {
  ++stats_.firmwareResets;
  booting_ = true;
  bootDoneAt_ = clock_.now() + timings_.firmwareBootNs;
  // A completed interface-1 reset is over once the adapter resets again.
  if (interface1ResetDone()) resetDriven_ = false;
}

void FirmwareControl::onControlWord(uint32_t value) {
  switch (value) {
    case kArm:
      step_ = Interface1Step::kArmed;
      resetDriven_ = false;
      break;
    case kHold:
      if (step_ == Interface1Step::kArmed) step_ = Interface1Step::kHeld;
      break;
    case kDrive:
      if (step_ != Interface1Step::kRequested) {
        stats_.record(Violation::kFirmwareResetOutOfOrder);
      } else if (firmware_.kind != FirmwareKind::kNone) {
        resetDriven_ = true;
        resetDoneAt_ = clock_.now() + timings_.interface1ResetNs;
      }
      step_ = Interface1Step::kIdle;
      break;
    default:
      break;  // the flash sessions save and restore the word: nothing to the reset
  }
}

uint32_t FirmwareControl::read(uint32_t offset) {
  settle();
  switch (offset) {
    case reg::kGlobalReset:
      return resetRegister_;
    case reg::kFirmwareAlive:
      return running() ? kAliveValue : 0;
    case reg::kFirmwareInterface2Word:
      return interface2Word_;
    case reg::kControlWord:
      return controlWord_.read(offset);
    case reg::kInterface1Reset:
      return interface1Reset_;
    case reg::kFirmwareControlBits:
      return controlBits_;
    case reg::kFirmwareState: {
      if (firmware_.kind == FirmwareKind::kNone) return reg::kFirmwareStateSilent;
      uint32_t state = !running()                                    ? reg::kFirmwareStateSilent
                       : firmware_.kind == FirmwareKind::kInterface1 ? kInterface1State
                                                                     : kInterface2State;
      if (interface1ResetDone()) state |= reg::kFirmwareStateResetDone;
      return state;
    }
    case reg::kFirmwareScratch:
      return scratch_;
    default:
      return blocks_[blockIndex(offset)];
  }
}

void FirmwareControl::write(uint32_t offset, uint32_t value) {
  settle();
  switch (offset) {
    case reg::kGlobalReset:
      resetRegister_ = value & ~reg::kGlobalResetStart;
      if ((value & reg::kGlobalResetStart) != 0 && (value & reg::kGlobalResetOther) == 0)
        globalReset();
      break;
    case reg::kFirmwareAlive:
    case reg::kFirmwareState:
      break;  // kept by the firmware
    case reg::kFirmwareInterface2Word:
      if (firmware_.kind == FirmwareKind::kInterface2) interface2Word_ = value;
      break;
    case reg::kControlWord:
      controlWord_.write(offset, value);
      onControlWord(value);
      break;
    case reg::kInterface1Reset:
      interface1Reset_ = value;
      if (value == kInterface1Request && step_ == Interface1Step::kHeld)
        step_ = Interface1Step::kRequested;
      break;
    case reg::kFirmwareControlBits:
      controlBits_ = value;
      break;
    case reg::kFirmwareScratch:
      scratch_ = value;
      break;
    default:
      blocks_[blockIndex(offset)] = value;
      break;
  }
}

}  // namespace hlv::sim
