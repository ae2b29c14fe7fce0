#include "update/firmware_control.h"

#include "device/register_map.h"
#include "platform/platform.h"
#include "update/firmware_control_trace.h"
#include "update/mdio_access.h"

namespace hlv {
namespace tp = trace_points::firmware_control;

namespace {

// Bounds of the waits.
constexpr uint32_t kDetectPasses = 1000;
constexpr uint32_t kPollSleepMs = 10;
constexpr uint32_t kPollSleeps = 1000;
// The wait for the firmware to go down after a global reset: finer, so that no reboot is quick
// enough to slip between two reads, within the same ten seconds.
constexpr uint32_t kDownPollSleepMs = 1;
constexpr uint32_t kDownPollSleeps = 10000;
constexpr uint32_t kPhyReadyTries = 1500;
constexpr uint32_t kPhyReadyTraceAfter = 800;
constexpr uint32_t kPhyChangeReads = 5;
constexpr uint32_t kPhyChangeSleepMs = 200;

// Fixed delays.
constexpr uint32_t kArmSettleMs = 50;
constexpr uint32_t kPulseMs = 10;
constexpr uint32_t kHoldSettleMs = 50;
constexpr uint32_t kPhyRestartSettleMs = 30;

void sleepMs(uint32_t milliseconds) {
  platform::current().sleepMilliseconds(milliseconds);
}

void setBits(VoRegControlInterface& reg, uint32_t offset, uint32_t bits) {
  reg.write32(offset, reg.read32(offset) | bits);
}

void clearBits(VoRegControlInterface& reg, uint32_t offset, uint32_t bits) {
  reg.write32(offset, reg.read32(offset) & ~bits);
}

// The firmware's blocks stop running before the adapter is reset.
void stopBlocks(VoRegControlInterface& reg) {
  for (uint32_t offset : {reg::kBlockControlB, reg::kBlockControlC, reg::kBlockControlA})
    clearBits(reg, offset, reg::kBlockRun);
}

// Which bits of the reset register a global reset keeps: the interface-1 sequences keep only
// bits 0-13, the interface-2 sequence every bit but 14 and 15.
constexpr uint32_t kKeepLowBits = 0x3FFF;
constexpr uint32_t kKeepAllButStart = ~(reg::kGlobalResetStart | reg::kGlobalResetOther);

// Starts a global reset: bit 15 set, bit 14 clear.
void startGlobalReset(VoRegControlInterface& reg, uint32_t keep) {
  const uint32_t value = reg.read32(reg::kGlobalReset);
  reg.write32(reg::kGlobalReset, (value & keep) | reg::kGlobalResetStart);
}

// Polls `offset` until `done` holds for what it reads, sleeping sleepMs between reads, at most
// maxSleeps times. The number of sleeps, or none when it never held.
template <class Done>
bool pollWithSleeps(VoRegControlInterface& reg, uint32_t offset, Done done, uint32_t& sleeps,
                    uint32_t sleepMilliseconds = kPollSleepMs, uint32_t maxSleeps = kPollSleeps) {
  sleeps = 0;
  uint32_t value = reg.read32(offset);
  while (!done(value)) {
    if (sleeps == maxSleeps) return false;
    sleepMs(sleepMilliseconds);
    ++sleeps;
    value = reg.read32(offset);
  }
  return true;
}

// The firmware answers on 0x18 after a global reset.
bool waitFirmwareAlive(VoRegControlInterface& reg) {
  uint32_t sleeps = 0;
  if (!pollWithSleeps(
          reg, reg::kFirmwareAlive, [](uint32_t v) { return v != 0; }, sleeps)) {
    trace::emit(tp::kFirmwareSilent);
    return false;
  }
  trace::emit(tp::kFirmwareUp, sleeps * kPollSleepMs);
  return true;
}

// A global reset reaches 0x18 only after a while: until then it reads what the old firmware left
// there, and a first non-zero read would be taken for the new firmware's answer. So the answer
// counts only once 0x18 has been seen at 0: the firmware went down, then came up again.
bool waitFirmwareRestarted(VoRegControlInterface& reg) {
  uint32_t sleeps = 0;
  if (!pollWithSleeps(
          reg, reg::kFirmwareAlive, [](uint32_t v) { return v == 0; }, sleeps, kDownPollSleepMs,
          kDownPollSleeps)) {
    trace::emit(tp::kFirmwareNotRestarted, sleeps * kDownPollSleepMs);
    return false;
  }
  trace::emit(tp::kFirmwareDown, sleeps * kDownPollSleepMs);
  return waitFirmwareAlive(reg);
}

}  // namespace

void setReg404Bit0(VoRegControlInterface& reg, bool set) {
  uint32_t value = reg.read32(reg::kControlWord);
  value = set ? value | 1u : value & ~1u;
  trace::emit(tp::kControlWordBit0, value);
  reg.write32(reg::kControlWord, value);
}

FirmwareInterface detectFirmwareInterface(VoRegControlInterface& reg) {
  for (uint32_t pass = 0; pass < kDetectPasses; ++pass) {
    const uint32_t state = reg.read32(reg::kFirmwareState);
    const uint32_t word = reg.read32(reg::kFirmwareInterface2Word);
    if (word != 0) {
      trace::emit(tp::kInterfaceDetected, 2u, state, word);
      return FirmwareInterface::kInterface2;
    }
    if (state != reg::kFirmwareStateSilent) {
      trace::emit(tp::kInterfaceDetected, 1u, state, word);
      return FirmwareInterface::kInterface1;
    }
  }
  trace::emit(tp::kNoInterface);
  return FirmwareInterface::kNone;
}

uint32_t reloadFirmwareSequence(VoRegControlInterface& reg, bool flag) {
  trace::emit(tp::kReload, flag);
  uint32_t result = 0;
  const FirmwareInterface interface = detectFirmwareInterface(reg);
  switch (interface) {
    case FirmwareInterface::kInterface1:
      result = reloadInterface1(reg, flag);
      break;
    case FirmwareInterface::kInterface2:
      if (flag) {
        clearPhyReg1000Bit3(reg);
      } else {
        result = reloadInterface2(reg);
      }
      break;
    case FirmwareInterface::kNone:
      trace::emit(tp::kReloadWithoutInterface, static_cast<uint32_t>(interface));
      result = kStatusNoFirmwareInterface;
      break;
  }
  trace::emit(tp::kReloadResult, result);
  return result;
}

uint32_t reloadInterface1(VoRegControlInterface& reg, bool flag) {
  if (!resetSequence1(reg)) return kStatusFirmwareNotUp;
  if (!restartPhy(reg)) return kStatusPhyNotUp;
  if (flag) return 0;
  (void)reg.read32(reg::kGlobalReset);
  stopBlocks(reg);
  startGlobalReset(reg, kKeepLowBits);
  return waitFirmwareRestarted(reg) ? 0 : kStatusFirmwareNotUp;
}

bool resetSequence1(VoRegControlInterface& reg) {
  trace::emit(tp::kResetSequence1);
  reg.write32(reg::kControlWord, reg::kControlResetArm);
  sleepMs(kArmSettleMs);
  setBits(reg, reg::kFirmwareControlBits, reg::kFirmwareControlReset);
  startGlobalReset(reg, kKeepLowBits);
  reg.write32(reg::kControlWord, reg::kControlResetHold);
  reg.write32(reg::kFirmwareScratch, 0);
  reg.write32(reg::kInterface1Reset, reg::kInterface1ResetRequest);
  const uint32_t bits = reg.read32(reg::kFirmwareControlBits);
  reg.write32(reg::kFirmwareControlBits, bits | reg::kFirmwareControlReset);
  sleepMs(kPulseMs);
  reg.write32(reg::kFirmwareControlBits, bits);
  reg.write32(reg::kControlWord, reg::kControlResetDrive);
  uint32_t sleeps = 0;
  if (!pollWithSleeps(
          reg, reg::kFirmwareState,
          [](uint32_t v) { return (v & reg::kFirmwareStateResetDone) != 0; }, sleeps)) {
    trace::emit(tp::kResetSequence1Timeout);
    return false;
  }
  trace::emit(tp::kResetSequence1Done, sleeps * kPollSleepMs);
  reg.write32(reg::kControlWord, reg::kControlResetHold);
  sleepMs(kHoldSettleMs);
  // The firmware took the MDIO semaphore when it was asked to halt and has held it through its
  // reset; once it has finished starting, its release is ours. Not through releaseHwSemaphore:
  // the program never took it.
  reg.write32(reg::kMdioSemaphore, reg::kSemaphoreRelease);
  return true;
}

bool restartPhy(VoRegControlInterface& reg) {
  trace::emit(tp::kRestartPhy);
  const uint16_t phy = findPhyAddress(reg, true);
  const auto before = static_cast<uint16_t>(mdioReadLocked(reg, phy, reg::phy::kRestartCount));
  trace::emit(tp::kPhyCountBefore, before);
  for (const reg::phy::RegisterWrite& write : reg::phy::kRestartWrites)
    mdioWriteLocked(reg, phy, kPhyVendorDevice, write.address, write.value);
  sleepMs(kPhyRestartSettleMs);

  // Each try takes the semaphore for one read of the status register.
  for (uint32_t tries = 0;;) {
    bool ready = false;
    if (!takeHwSemaphore(reg, kMdioSemaphoreTimeoutMs)) {
      trace::emit(tp::kPhyReadySkipped, tries);
    } else {
      const auto value =
          static_cast<uint16_t>(mdioRead(reg, phy, kPhyVendorDevice, reg::phy::kStatus));
      releaseHwSemaphore(reg);
      if (value != kMdioNobody) {
        if (tries > kPhyReadyTraceAfter) trace::emit(tp::kPhyStatusSlow, value);
        ready = (value & reg::phy::kReadyBit) != 0;
      }
    }
    if (ready) {
      trace::emit(tp::kPhyReady, tries * kPollSleepMs);
      break;
    }
    sleepMs(kPollSleepMs);
    if (++tries == kPhyReadyTries) {
      trace::emit(tp::kPhyNotReady);
      return false;
    }
  }

  for (uint32_t read = 0; read < kPhyChangeReads; ++read) {
    const auto after = static_cast<uint16_t>(mdioReadLocked(reg, phy, reg::phy::kRestartCount));
    trace::emit(tp::kPhyCountAfter, after);
    if (after != before || before == 0) break;
    sleepMs(kPhyChangeSleepMs);
  }
  return true;
}

void clearPhyReg1000Bit3(VoRegControlInterface& reg) {
  // The setup register is left as the firmware keeps it: the interface is only scanned.
  const uint16_t phy = findPhyAddress(reg, false);
  uint32_t value = kMdioNoValue;
  if (takeHwSemaphore(reg, kMdioSemaphoreTimeoutMs)) {
    value = mdioRead(reg, phy, kPhyVendorDevice, reg::phy::kRegister1000);
    releaseHwSemaphore(reg);
  } else {
    trace::emit(tp::kRegister1000Unread);
  }
  // Writing back what a failed read gave would set every other bit of the register.
  if (value == kMdioNoValue || (value & 0xFFFF) == kMdioNobody) {
    trace::emit(tp::kRegister1000NotWritten, value);
    return;
  }
  const auto cleared = static_cast<uint16_t>(value & ~reg::phy::kRegister1000Bit3);
  if (!takeHwSemaphore(reg, kMdioSemaphoreTimeoutMs)) {
    trace::emit(tp::kRegister1000NotWritten, value);
    return;
  }
  mdioWrite(reg, phy, kPhyVendorDevice, reg::phy::kRegister1000, cleared);
  releaseHwSemaphore(reg);
  trace::emit(tp::kRegister1000Written, cleared);
}

uint32_t reloadInterface2(VoRegControlInterface& reg) {
  trace::emit(tp::kReloadInterface2);
  reg.write32(reg::kControlWord, reg::kControlResetArm);
  // The halting firmware takes the MDIO semaphore and leaves its release to us at once.
  reg.write32(reg::kMdioSemaphore, reg::kSemaphoreRelease);
  reg.write32(reg::kFirmwareScratch, 0);
  clearPhyReg1000Bit3(reg);
  reg.write32(reg::kFirmwareInterface2Word, reg::kFirmwareInterface2Marker);
  setBits(reg, reg::kFirmwareControlBits, reg::kFirmwareControlReset);
  stopBlocks(reg);
  startGlobalReset(reg, kKeepAllButStart);
  reg.write32(reg::kControlWord, reg::kControlRun);

  uint32_t sleeps = 0;
  const auto overwritten = [](uint32_t v) {
    const uint32_t low = v & 0xFFFF;
    return low != reg::kFirmwareInterface2Marker && low != 0;
  };
  if (!pollWithSleeps(reg, reg::kFirmwareInterface2Word, overwritten, sleeps))
    trace::emit(tp::kMarkerNotOverwritten);
  trace::emit(tp::kWaitingForFirmware);
  return waitFirmwareAlive(reg) ? 0 : kStatusFirmwareNotUp;
}

}  // namespace hlv
