#include "sim/hardware_semaphores.h"

#include "device/register_map.h"

namespace hlv::sim {

HardwareSemaphores::HardwareSemaphores(const FirmwareConfig& config) {
  mdio_.firmwareKeepsIt = config.mdioSemaphoreHeld;
  fuse_.firmwareKeepsIt = config.fuseSemaphoreHeld;
  powerOn();
}

bool HardwareSemaphores::claims(uint32_t offset) const {
  return offset == reg::kMdioSemaphore || offset == reg::kFuseSemaphore;
}

HardwareSemaphores::Semaphore& HardwareSemaphores::semaphore(uint32_t offset) {
  return offset == reg::kMdioSemaphore ? mdio_ : fuse_;
}

HardwareSemaphores::Owner HardwareSemaphores::owner(SemaphoreId id) const {
  return (id == SemaphoreId::kMdio ? mdio_ : fuse_).owner;
}

uint32_t HardwareSemaphores::read(uint32_t offset) {
  Semaphore& s = semaphore(offset);
  if (s.owner != Owner::kNone) return 0;
  s.owner = Owner::kProgram;
  if (grantHook_) grantHook_();
  return kGranted;
}

void HardwareSemaphores::write(uint32_t offset, uint32_t value) {
  if (value != reg::kSemaphoreRelease) return;
  Semaphore& s = semaphore(offset);
  s.owner = s.firmwareKeepsIt ? Owner::kFirmware : Owner::kNone;
  if (releaseHook_)
    releaseHook_(offset == reg::kMdioSemaphore ? SemaphoreId::kMdio : SemaphoreId::kFuse);
}

void HardwareSemaphores::powerOn() {
  for (Semaphore* s : {&mdio_, &fuse_})
    s->owner = s->firmwareKeepsIt ? Owner::kFirmware : Owner::kNone;
}

bool HardwareSemaphores::anyHeldByProgram() const {
  return mdio_.owner == Owner::kProgram || fuse_.owner == Owner::kProgram;
}

}  // namespace hlv::sim
