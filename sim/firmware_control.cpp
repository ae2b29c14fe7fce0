#include "sim/firmware_control.h"

#include <algorithm>
#include <limits>

#include "device/register_map.h"

namespace hlv::sim {
namespace {

// Control word values the firmware acts on.
constexpr uint32_t kHalt = reg::kControlResetArm;
constexpr uint32_t kRun = reg::kControlRun;
constexpr uint32_t kHold = reg::kControlResetHold;  // hold the reset firmware; close its reset
constexpr uint32_t kDrive = reg::kControlResetDrive;
constexpr uint32_t kInterface1Request = reg::kInterface1ResetRequest;
constexpr uint32_t kInterface2State = 0x06000002;
constexpr uint32_t kResetWordConfiguration = 0x3FFF;
constexpr uint32_t kResetWordControl = reg::kGlobalResetStart | reg::kGlobalResetOther;
constexpr uint32_t kMarker = reg::kFirmwareInterface2Marker;
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

// The blocks by index: 0x4000, 0x5000, 0x7000.
constexpr int kBlockA = 0;
constexpr int kBlockB = 1;
constexpr int kBlockC = 2;
// The order the blocks are stopped in: each feeds the next.
constexpr int kStopOrder[] = {kBlockB, kBlockC, kBlockA};
// Each block control register at power-on: running.
constexpr uint32_t kBlockAtPowerOn = reg::kBlockRun | 0x1;

int blockIndex(uint32_t offset) {
  switch (offset) {
    case reg::kBlockControlA:
      return kBlockA;
    case reg::kBlockControlB:
      return kBlockB;
    case reg::kBlockControlC:
      return kBlockC;
    default:
      return -1;
  }
}

}  // namespace

FirmwareControl::FirmwareControl(const AdapterConfig& config, VirtualClock& clock,
                                 AdapterStats& stats, ControlWord& controlWord,
                                 HardwareSemaphores& semaphores, MdioPhy& mdio)
    : firmware_(config.firmware),
      timings_(config.timings),
      clock_(clock),
      stats_(stats),
      controlWord_(controlWord),
      semaphores_(semaphores),
      mdio_(mdio),
      latencyRandom_(config.timings.firmwareResetJitterSeed),
      busRandom_(config.timings.firmwareMdioSeed) {
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
  const bool present = firmware_.kind != FirmwareKind::kNone;
  phase_ = present ? Phase::kRunning : Phase::kAbsent;
  step_ = Step::kAwaitingHold;
  resetWord_ = kResetWordAtPowerOn;
  interface2Word_ = interface2() ? kInterface2Word : 0;
  interface1Reset_ = 0;
  controlBits_ = 0;
  scratch_ = present ? kResetRecord : 0;
  for (uint32_t& block : blocks_)
    block = present ? kBlockAtPowerOn : kBlockAtPowerOn & ~reg::kBlockRun;
  resetDone_ = false;
  halted_ = false;
  haltAt_ = 0;
  bootAt_ = 0;
  doneAt_ = 0;
  pulsing_ = false;
  pulseAt_ = 0;
  staleUntil_ = 0;
  staleAlive_ = 0;
  staleState_ = 0;
  busUntil_ = 0;
  scheduleBusUse(clock_.now());
}

bool FirmwareControl::running() const {
  switch (phase_) {
    case Phase::kRunning:
    case Phase::kHalting:
    case Phase::kCompleted:
    case Phase::kClosing:
      return true;
    case Phase::kBooting:
      return clock_.now() >= bootAt_;
    case Phase::kHeldDown:
      return step_ == Step::kDriven && clock_.now() >= doneAt_;
    case Phase::kAbsent:
    case Phase::kHung:
      break;
  }
  return false;
}

uint32_t FirmwareControl::aliveNow() const {
  if (clock_.now() < staleUntil_) return staleAlive_;
  return running() ? kAliveValue : 0;
}

uint32_t FirmwareControl::stateNow() const {
  if (clock_.now() < staleUntil_) return staleState_;
  if (!running()) return reg::kFirmwareStateSilent;
  const uint32_t state = interface1() ? kInterface1State : kInterface2State;
  return resetDone_ ? state | reg::kFirmwareStateResetDone : state;
}

uint64_t FirmwareControl::latency() {
  const uint64_t jitter = timings_.firmwareResetJitterNs;
  return timings_.firmwareResetLatencyNs + (jitter == 0 ? 0 : latencyRandom_.below(jitter + 1));
}

void FirmwareControl::outOfOrder() {
  stats_.record(Violation::kFirmwareResetOutOfOrder);
}

void FirmwareControl::startBlocks() {
  for (uint32_t& block : blocks_)
    block |= reg::kBlockRun;
}

void FirmwareControl::stopBlocks() {
  for (int index : kStopOrder)
    blocks_[index] &= ~reg::kBlockRun;
}

void FirmwareControl::scheduleBusUse(uint64_t from) {
  const uint64_t every = timings_.firmwareMdioEveryNs;
  nextUse_ =
      every == 0 ? kNever : from + std::max<uint64_t>(1, every / 2 + busRandom_.below(every));
}

void FirmwareControl::endBusUse() {
  if (busUntil_ == 0) return;
  semaphores_.firmwareRelease(SemaphoreId::kMdio, FirmwareHold::kBus);
  busUntil_ = 0;
}

void FirmwareControl::useBus(uint64_t now) {
  for (;;) {
    if (busUntil_ != 0 && busUntil_ <= std::min(nextUse_, now)) {
      endBusUse();
      continue;
    }
    if (nextUse_ > now) break;
    // Only a firmware that runs free uses the bus, and only when the program does not hold it.
    const uint64_t at = nextUse_;
    if (phase_ == Phase::kRunning && busUntil_ == 0 &&
        semaphores_.firmwareTakeForBus(SemaphoreId::kMdio)) {
      busUntil_ = at + timings_.firmwareMdioUseNs;
      mdio_.firmwareUse(busUntil_);
      ++stats_.firmwareMdioUses;
    }
    scheduleBusUse(at);
  }
}

void FirmwareControl::start(bool byInterface1Reset) {
  startBlocks();
  scratch_ = kResetRecord;
  if (interface2()) interface2Word_ = kInterface2Word;
  if (byInterface1Reset) {
    // Still holding 0x3A0, with the MDIO interface left to the program.
    phase_ = Phase::kCompleted;
    resetDone_ = true;
    return;
  }
  ++stats_.firmwareBoots;
  phase_ = Phase::kRunning;
  semaphores_.firmwareRelease(SemaphoreId::kMdio, FirmwareHold::kReset);
  mdio_.firmwareSetup();
  scheduleBusUse(bootAt_);
}

void FirmwareControl::settle() {
  const uint64_t now = clock_.now();
  if (phase_ == Phase::kHalting && !halted_ && now >= haltAt_ + kHaltNs) {
    stopBlocks();
    halted_ = true;
  }
  if (phase_ == Phase::kBooting && now >= bootAt_) start(false);
  if (phase_ == Phase::kHeldDown && step_ == Step::kDriven && now >= doneAt_) start(true);
  useBus(now);
}

void FirmwareControl::globalReset() {
  ++stats_.firmwareResets;
  // The polled registers show the reset only after its latency.
  staleAlive_ = aliveNow();
  staleState_ = stateNow();
  staleUntil_ = clock_.now() + latency();
  const bool restartRequested = (controlBits_ & reg::kFirmwareControlReset) != 0;
  controlBits_ &= ~reg::kFirmwareControlReset;
  resetDone_ = false;
  pulsing_ = false;
  endBusUse();
  mdio_.chipReset();
  if (phase_ == Phase::kAbsent || phase_ == Phase::kHung) return;
  const bool blockRunning = std::any_of(std::begin(blocks_), std::end(blocks_),
                                        [](uint32_t b) { return (b & reg::kBlockRun) != 0; });
  if (blockRunning) {
    stats_.record(Violation::kResetWithBlockRunning);
    phase_ = Phase::kHung;
    return;
  }
  if (phase_ == Phase::kHalting) {
    const bool reloadable =
        restartRequested &&
        (!interface2() || ((interface2Word_ & 0xFFFF) == kMarker && scratch_ == 0 &&
                           !semaphores_.heldForReset(SemaphoreId::kMdio)));
    if (!reloadable) {
      outOfOrder();
      phase_ = Phase::kHung;
      return;
    }
    phase_ = Phase::kHeldDown;
    step_ = Step::kAwaitingHold;
    return;
  }
  phase_ = Phase::kBooting;
  bootAt_ = firmware_.stuck ? kNever : staleUntil_ + timings_.firmwareBootNs;
}

void FirmwareControl::onResetWord(uint32_t value) {
  if ((value & ~kResetWordControl) != resetWord_ || (value & reg::kGlobalResetOther) != 0)
    stats_.record(Violation::kKeptBitsChanged);
  resetWord_ = value & kResetWordConfiguration;
  if ((value & reg::kGlobalResetStart) != 0 && (value & reg::kGlobalResetOther) == 0) globalReset();
}

void FirmwareControl::onControlWord(uint32_t value) {
  if (phase_ == Phase::kAbsent || phase_ == Phase::kHung) return;  // nobody listens
  const uint64_t now = clock_.now();
  switch (value) {
    case kHalt:
      if (phase_ == Phase::kRunning) {
        phase_ = Phase::kHalting;
        haltAt_ = now;
        halted_ = false;
        resetDone_ = false;
        endBusUse();
        scratch_ = kResetRecord;
        if (interface2()) interface2Word_ = kInterface2Word;
        semaphores_.firmwareTakeForReset(SemaphoreId::kMdio,
                                         interface2() ? now : HardwareSemaphores::kNoHandover);
      } else if (phase_ != Phase::kHalting) {
        outOfOrder();
      }
      break;
    case kRun:
      if (phase_ == Phase::kHalting) {
        phase_ = Phase::kRunning;
        startBlocks();
        semaphores_.firmwareRelease(SemaphoreId::kMdio, FirmwareHold::kReset);
        scheduleBusUse(now);
      } else if (phase_ == Phase::kHeldDown && interface2()) {
        phase_ = Phase::kBooting;
        bootAt_ = firmware_.stuck ? kNever : std::max(now, staleUntil_) + timings_.firmwareBootNs;
      } else if (phase_ != Phase::kRunning && phase_ != Phase::kBooting) {
        outOfOrder();
      }
      break;
    case kHold:
      if (phase_ == Phase::kHeldDown && interface1()) {
        if (step_ == Step::kAwaitingHold) {
          step_ = Step::kHeld;
          scratch_ = kResetRecord;
        } else if (step_ == Step::kDriven) {
          outOfOrder();  // the reset broken off before it completed
          phase_ = Phase::kHung;
        }
      } else if (phase_ == Phase::kCompleted) {
        phase_ = Phase::kClosing;
        semaphores_.allowHandover(SemaphoreId::kMdio, now + kHandoverNs);
      } else if (phase_ == Phase::kHalting || phase_ == Phase::kHeldDown) {
        outOfOrder();
      }
      break;
    case kDrive:
      if (phase_ == Phase::kHeldDown && interface1() && step_ == Step::kStrobed && scratch_ == 0) {
        step_ = Step::kDriven;
        doneAt_ =
            firmware_.stuck ? kNever : std::max(now, staleUntil_) + timings_.interface1ResetNs;
      } else {
        outOfOrder();
      }
      break;
    default:
      break;  // the flash sessions save and restore the word: nothing to the firmware
  }
}

void FirmwareControl::onControlBits(uint32_t value) {
  const bool was = (controlBits_ & reg::kFirmwareControlReset) != 0;
  const bool is = (value & reg::kFirmwareControlReset) != 0;
  controlBits_ = value;
  if (phase_ != Phase::kHeldDown || !interface1() || step_ != Step::kRequested) return;
  if (is && !was) {
    pulsing_ = true;
    pulseAt_ = clock_.now();
  } else if (!is && was && pulsing_) {
    pulsing_ = false;
    if (clock_.now() - pulseAt_ >= kPulseNs) {
      step_ = Step::kStrobed;
    } else {
      stats_.record(Violation::kSettleTimeTooShort);  // too short to strobe the request in
    }
  }
}

void FirmwareControl::onInterface1Request(uint32_t value) {
  interface1Reset_ = value;
  if (value != kInterface1Request || phase_ != Phase::kHeldDown || !interface1() ||
      step_ != Step::kHeld)
    return;
  if (scratch_ != 0) {
    outOfOrder();  // the record of the hold not cleared first
    return;
  }
  step_ = Step::kRequested;
}

void FirmwareControl::onInterface2Word(uint32_t value) {
  if (!interface2() || phase_ == Phase::kHung) return;
  if (phase_ == Phase::kBooting || phase_ == Phase::kHeldDown) {
    outOfOrder();  // the firmware is down: the word is lost
    return;
  }
  interface2Word_ = value;
}

void FirmwareControl::onBlock(int index, uint32_t value) {
  const uint32_t old = blocks_[index];
  if (((value ^ old) & ~reg::kBlockRun) != 0) stats_.record(Violation::kKeptBitsChanged);
  if ((old & reg::kBlockRun) != 0 && (value & reg::kBlockRun) == 0) {
    // Every block before it in the stop order feeds it, and must be stopped already.
    for (int feeder : kStopOrder) {
      if (feeder == index) break;
      if ((blocks_[feeder] & reg::kBlockRun) != 0) {
        stats_.record(Violation::kBlockStopOutOfOrder);
        break;
      }
    }
  }
  blocks_[index] = value;
}

uint32_t FirmwareControl::read(uint32_t offset) {
  settle();
  switch (offset) {
    case reg::kGlobalReset:
      return resetWord_;
    case reg::kFirmwareAlive:
      return aliveNow();
    case reg::kFirmwareInterface2Word:
      return interface2Word_;
    case reg::kControlWord:
      return controlWord_.read(offset);
    case reg::kInterface1Reset:
      return interface1Reset_;
    case reg::kFirmwareControlBits:
      return controlBits_;
    case reg::kFirmwareState:
      return firmware_.kind == FirmwareKind::kNone ? reg::kFirmwareStateSilent : stateNow();
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
      onResetWord(value);
      break;
    case reg::kFirmwareAlive:
    case reg::kFirmwareState:
      break;  // kept by the firmware
    case reg::kFirmwareInterface2Word:
      onInterface2Word(value);
      break;
    case reg::kControlWord:
      controlWord_.write(offset, value);
      onControlWord(value);
      break;
    case reg::kInterface1Reset:
      onInterface1Request(value);
      break;
    case reg::kFirmwareControlBits:
      onControlBits(value);
      break;
    case reg::kFirmwareScratch:
      scratch_ = value;
      break;
    default:
      onBlock(blockIndex(offset), value);
      break;
  }
}

}  // namespace hlv::sim
