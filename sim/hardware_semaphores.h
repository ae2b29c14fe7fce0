// The two hardware semaphores the adapter's firmware shares with the program: 0x3A0 guards the
// MDIO interface to the PHY, 0x3A4 the fuses. A read grants a free semaphore to the reader and
// returns non-zero; a read of a taken one returns 0. Writing 1 releases a semaphore whoever holds
// it (the firmware reset sequences do so on purpose). A firmware configured to hold one takes it
// back as soon as it is released, so that the program never obtains it.
#pragma once

#include <cstdint>
#include <functional>

#include "sim/adapter_config.h"
#include "sim/register_block.h"

namespace hlv::sim {

enum class SemaphoreId : uint8_t { kMdio, kFuse };

class HardwareSemaphores : public RegisterBlock {
 public:
  explicit HardwareSemaphores(const FirmwareConfig& config);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;

  bool heldByProgram(SemaphoreId id) const { return owner(id) == Owner::kProgram; }
  bool heldByFirmware(SemaphoreId id) const { return owner(id) == Owner::kFirmware; }
  bool anyHeldByProgram() const;
  // Runs after every grant to the program.
  void setGrantHook(std::function<void()> hook) { grantHook_ = std::move(hook); }
  // Runs after every write that releases a semaphore (whoever held it), with the semaphore.
  void setReleaseHook(std::function<void(SemaphoreId)> hook) { releaseHook_ = std::move(hook); }

  // The value a read returns when it grants the semaphore.
  static constexpr uint32_t kGranted = 1;

 private:
  enum class Owner : uint8_t { kNone, kProgram, kFirmware };
  struct Semaphore {
    Owner owner = Owner::kNone;
    bool firmwareKeepsIt = false;
  };
  Semaphore& semaphore(uint32_t offset);
  Owner owner(SemaphoreId id) const;

  Semaphore mdio_;
  Semaphore fuse_;
  std::function<void()> grantHook_;
  std::function<void(SemaphoreId)> releaseHook_;
};

}  // namespace hlv::sim
