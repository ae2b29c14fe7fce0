#include "sim/hardware_semaphores.h"

#include "device/register_map.h"

namespace hlv::sim {

HardwareSemaphores::HardwareSemaphores(const FirmwareConfig& config, VirtualClock& clock,
                                       AdapterStats& stats)
    : clock_(clock), stats_(stats) {
  mdio_.keeps = config.mdioSemaphoreHeld;
  fuse_.keeps = config.fuseSemaphoreHeld;
  powerOn();
}

bool HardwareSemaphores::claims(uint32_t offset) const {
  return offset == reg::kMdioSemaphore || offset == reg::kFuseSemaphore;
}

HardwareSemaphores::Semaphore& HardwareSemaphores::semaphore(uint32_t offset) {
  return offset == reg::kMdioSemaphore ? mdio_ : fuse_;
}

bool HardwareSemaphores::heldByProgram(SemaphoreId id) const {
  return of(id).program;
}

bool HardwareSemaphores::heldByFirmware(SemaphoreId id) const {
  return of(id).firmware();
}

bool HardwareSemaphores::anyHeldByProgram() const {
  return mdio_.program || fuse_.program;
}

uint32_t HardwareSemaphores::read(uint32_t offset) {
  Semaphore& s = semaphore(offset);
  if (s.program || s.firmware()) return 0;
  s.program = true;
  if (grantHook_) grantHook_();
  return kGranted;
}

void HardwareSemaphores::write(uint32_t offset, uint32_t value) {
  if (value != reg::kSemaphoreRelease) return;
  Semaphore& s = semaphore(offset);
  const SemaphoreId id =
      offset == reg::kMdioSemaphore ? SemaphoreId::kMdio : SemaphoreId::kFuse;
  if (s.program) {
    s.program = false;
    if (s.resetWanted) {
      // The firmware was waiting for it: it has it now.
      s.resetWanted = false;
      s.resetHold = true;
    }
  } else if (s.resetHold && !s.busHold && clock_.now() >= s.handoverFrom) {
    // The release the firmware leaves to the program once it has handed the semaphore over.
    s.resetHold = false;
    s.handoverFrom = kNoHandover;
  } else {
    // Freed under the feet of whoever held it (or of nobody): the firmware loses its hold,
    // except one that keeps it and takes it back at once.
    stats_.record(Violation::kReleaseWithoutHolding);
    s.resetHold = false;
    s.busHold = false;
    s.handoverFrom = kNoHandover;
  }
  if (releaseHook_) releaseHook_(id);
}

void HardwareSemaphores::powerOn() {
  for (Semaphore* s : {&mdio_, &fuse_}) {
    s->program = false;
    s->resetHold = false;
    s->resetWanted = false;
    s->busHold = false;
    s->handoverFrom = kNoHandover;
  }
}

void HardwareSemaphores::firmwareTakeForReset(SemaphoreId id, uint64_t handoverFrom) {
  Semaphore& s = of(id);
  s.handoverFrom = handoverFrom;
  if (s.program) {
    s.resetWanted = true;
  } else {
    s.resetHold = true;
  }
}

void HardwareSemaphores::allowHandover(SemaphoreId id, uint64_t handoverFrom) {
  of(id).handoverFrom = handoverFrom;
}

bool HardwareSemaphores::heldForReset(SemaphoreId id) const {
  const Semaphore& s = of(id);
  return s.resetHold || s.resetWanted;
}

bool HardwareSemaphores::firmwareTakeForBus(SemaphoreId id) {
  Semaphore& s = of(id);
  if (s.program) return false;
  s.busHold = true;
  return true;
}

void HardwareSemaphores::firmwareRelease(SemaphoreId id, FirmwareHold hold) {
  Semaphore& s = of(id);
  if (hold == FirmwareHold::kBus) {
    s.busHold = false;
  } else {
    s.resetHold = false;
    s.resetWanted = false;
    s.handoverFrom = kNoHandover;
  }
}

}  // namespace hlv::sim
