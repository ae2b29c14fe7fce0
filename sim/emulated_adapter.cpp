#include "sim/emulated_adapter.h"

#include <algorithm>
#include <csignal>
#include <limits>

#include "platform/hlv_assert.h"

namespace hlv::sim {

EmulatedAdapter::EmulatedAdapter(const AdapterConfig& config, VirtualClock& clock)
    : EmulatedAdapter(config, clock, std::span<uint8_t>()) {}

EmulatedAdapter::EmulatedAdapter(const AdapterConfig& config, VirtualClock& clock,
                                 std::span<uint8_t> flash)
    : config_(config),
      clock_(clock),
      ownedFlash_(flash.data() == nullptr ? partCapacity(config) : 0, 0xFF),
      flash_(flash.data() == nullptr ? std::span<uint8_t>(ownedFlash_) : flash),
      part_(partModelFor(config), config, clock, flash_, stats_),
      engine_(part_, config, clock, stats_) {
  part_.setModifyingCommandHook(
      [this](uint8_t opcode, uint32_t address) { return beforeModifyingCommand(opcode, address); });
  auto controlWord = std::make_unique<ControlWord>();
  controlWord_ = controlWord.get();
  blocks_.push_back(&engine_);
  addBlock(std::move(controlWord));
  addFirmwareBlocks();
  if (config.powerCutAfter.has_value()) {
    if (config.powerCutTorn && *config.powerCutAfter != 0) {
      cutPowerDuring(*config.powerCutAfter, config.tornSeed);
    } else {
      cutPowerAfter(*config.powerCutAfter);
    }
  }
  // A time beyond the clock's range never comes.
  constexpr uint64_t kLatest = std::numeric_limits<uint64_t>::max() / 1000;
  if (config.killAtUs != 0)
    clock.addAlarm(std::min(config.killAtUs, kLatest) * 1000, [] { raise(SIGKILL); });
  if (config.signalAtUs != 0) {
    const int signalNumber = config.testSignal;
    clock.addAlarm(std::min(config.signalAtUs, kLatest) * 1000,
                   [signalNumber] { raise(signalNumber); });
  }
  if (config.signalAtCommand != 0) {
    part_.setCommandHook([this] {
      if (++commandsReceived_ == config_.signalAtCommand) raise(config_.testSignal);
    });
  }
}

void EmulatedAdapter::addFirmwareBlocks() {
  auto semaphores = std::make_unique<HardwareSemaphores>(config_.firmware, clock_, stats_);
  semaphores_ = semaphores.get();
  if (config_.firmware.interruptAtGrant != 0) {
    semaphores_->setGrantHook([this] {
      if (++semaphoreGrants_ == config_.firmware.interruptAtGrant) raise(config_.testSignal);
    });
  }
  auto mdio = std::make_unique<MdioPhy>(config_, clock_, stats_, *semaphores_);
  mdio_ = mdio.get();
  auto firmware = std::make_unique<FirmwareControl>(config_, clock_, stats_, *controlWord_,
                                                    *semaphores_, *mdio_);
  firmwareControl_ = firmware.get();
  auto fuses = std::make_unique<ChipFuses>(config_, clock_, stats_, *semaphores_);
  chipFuses_ = fuses.get();
  // What was opened under one hold of the fuse semaphore is gone once it is released.
  semaphores_->setReleaseHook([this](SemaphoreId id) {
    if (id == SemaphoreId::kFuse) chipFuses_->closePort();
  });
  addBlock(std::move(semaphores));
  addBlock(std::move(mdio));
  addBlock(std::move(firmware));  // takes the control word over, keeping its value there
  addBlock(std::move(fuses));
}

EmulatedAdapter::~EmulatedAdapter() = default;

void EmulatedAdapter::addBlock(std::unique_ptr<RegisterBlock> block) {
  HLV_ASSERT(block != nullptr);
  blocks_.insert(blocks_.begin(), block.get());
  ownedBlocks_.push_back(std::move(block));
  dispatch_.fill({});
}

RegisterBlock* EmulatedAdapter::blockFor(uint32_t offset) {
  if (offset % 4 != 0) return nullptr;
  // The block of a register is looked up once; the flash sequences use a handful of registers
  // millions of times.
  DispatchEntry& entry = dispatch_[(offset / 4) % dispatch_.size()];
  if (entry.valid && entry.offset == offset) return entry.block;
  RegisterBlock* found = nullptr;
  for (RegisterBlock* block : blocks_) {
    if (block->claims(offset)) {
      found = block;
      break;
    }
  }
  entry = {true, offset, found};
  return found;
}

uint32_t EmulatedAdapter::read32(uint32_t offset) {
  ++stats_.regReads;
  uint32_t value = 0xFFFFFFFF;
  if (!poweredOff_) {
    RegisterBlock* block = blockFor(offset);
    if (block == &engine_) {
      value = engine_.read(offset);  // the flash sequences' registers, called directly
    } else if (block != nullptr) {
      firmwareControl_->settle();  // the firmware's side moves with time
      value = block->read(offset);
    } else {
      ++stats_.unclaimedAccesses;
      value = 0;
    }
  }
  clock_.advance(config_.timings.registerReadNs);
  return value;
}

void EmulatedAdapter::write32(uint32_t offset, uint32_t value) {
  ++stats_.regWrites;
  if (!poweredOff_) {
    RegisterBlock* block = blockFor(offset);
    if (block == &engine_) {
      engine_.write(offset, value);
    } else if (block != nullptr) {
      firmwareControl_->settle();
      block->write(offset, value);
    } else {
      ++stats_.unclaimedAccesses;
    }
  }
  clock_.advance(config_.timings.registerWriteNs);
}

AdapterStats EmulatedAdapter::stats() const {
  AdapterStats stats = stats_;
  stats.virtualNs = clock_.now();
  stats.semaphoreHeld = semaphores_->anyHeldByProgram();
  return stats;
}

void EmulatedAdapter::resetStats() {
  stats_ = AdapterStats{};
}

void EmulatedAdapter::cutPowerAfter(uint64_t commands) {
  if (commands == 0) {
    poweredOff_ = true;
    stats_.powerCut = true;
    powerCutArmed_ = false;
    return;
  }
  powerCutArmed_ = true;
  commandsBeforeCut_ = commands;
  tearSeed_.reset();
}

void EmulatedAdapter::cutPowerDuring(uint64_t command, uint64_t seed) {
  HLV_ASSERT(command != 0);
  cutPowerAfter(command);
  tearSeed_ = seed;
}

void EmulatedAdapter::restorePower() {
  poweredOff_ = false;
  powerCutArmed_ = false;
  part_.powerOn();
  for (RegisterBlock* block : blocks_)
    block->powerOn();
}

std::optional<uint64_t> EmulatedAdapter::beforeModifyingCommand(uint8_t opcode, uint32_t address) {
  if (!powerCutArmed_ || --commandsBeforeCut_ != 0) return std::nullopt;
  // The command still takes effect (whole, or torn) on the part, which holds its charge; from
  // here the adapter answers nothing.
  powerCutArmed_ = false;
  poweredOff_ = true;
  stats_.powerCut = true;
  stats_.powerCutOpcode = opcode;
  stats_.powerCutAddress = address;
  return tearSeed_;
}

}  // namespace hlv::sim
