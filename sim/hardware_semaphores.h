// The two hardware semaphores the adapter's firmware shares with the program: 0x3A0 guards the
// MDIO interface to the PHY, 0x3A4 the fuses. A read grants a free semaphore to the reader and
// returns non-zero; a read of a taken one returns 0, to its holder too.
//
// The block records who holds each semaphore. Writing 1 frees it whoever holds it (the hardware
// cannot refuse), but 1 written by the program while it does not hold the semaphore is counted
// (release_without_holding), with one exception: the firmware takes 0x3A0 when it is asked to
// halt for a reset and leaves its release to the program, which may free it on the firmware's
// behalf from the moment the firmware hands it over (the firmware control block says when).
// The firmware also takes 0x3A0 on its own, for the moments it uses the MDIO bus, and a firmware
// configured to hold a semaphore (mdio_semaphore, fuse_semaphore = held) takes it back as soon
// as it is released, so that the program never obtains it. Writes of other values do nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/register_block.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

enum class SemaphoreId : uint8_t { kMdio, kFuse };

// Why the firmware holds a semaphore.
enum class FirmwareHold : uint8_t {
  kReset,  // taken at the halt request of a reset sequence, released by the program
  kBus,    // one of the firmware's own uses of the MDIO bus
};

class HardwareSemaphores : public RegisterBlock {
 public:
  HardwareSemaphores(const FirmwareConfig& config, VirtualClock& clock, AdapterStats& stats);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;

  bool heldByProgram(SemaphoreId id) const;
  bool heldByFirmware(SemaphoreId id) const;
  bool anyHeldByProgram() const;
  // Runs after every grant to the program.
  void setGrantHook(std::function<void()> hook) { grantHook_ = std::move(hook); }
  // Runs after every write that releases a semaphore (whoever held it), with the semaphore.
  void setReleaseHook(std::function<void(SemaphoreId)> hook) { releaseHook_ = std::move(hook); }

  // The firmware's side. The reset hold: taken now, or as soon as the program releases the
  // semaphore if it holds it; the program may release it from handoverFrom on (virtual ns).
  void firmwareTakeForReset(SemaphoreId id, uint64_t handoverFrom);
  void allowHandover(SemaphoreId id, uint64_t handoverFrom);
  // True while the firmware holds the semaphore for its reset, or waits to.
  bool heldForReset(SemaphoreId id) const;
  // A use of the bus: true when the firmware holds the semaphore for it (it was free, or the
  // firmware holds it anyway); false when the program holds it.
  bool firmwareTakeForBus(SemaphoreId id);
  void firmwareRelease(SemaphoreId id, FirmwareHold hold);

  // The value a read returns when it grants the semaphore.
  static constexpr uint32_t kGranted = 1;
  static constexpr uint64_t kNoHandover = UINT64_MAX;

 private:
  struct Semaphore {
    bool program = false;      // the program holds it
    bool keeps = false;        // the firmware holds it whenever nobody else does
    bool resetHold = false;    // the firmware holds it for a reset
    bool resetWanted = false;  // ... and waits for the program to release it first
    bool busHold = false;      // the firmware holds it while it uses the bus
    uint64_t handoverFrom = kNoHandover;
    bool firmware() const { return !program && (keeps || resetHold || busHold); }
  };
  Semaphore& semaphore(uint32_t offset);
  Semaphore& of(SemaphoreId id) { return id == SemaphoreId::kMdio ? mdio_ : fuse_; }
  const Semaphore& of(SemaphoreId id) const { return id == SemaphoreId::kMdio ? mdio_ : fuse_; }

  VirtualClock& clock_;
  AdapterStats& stats_;
  Semaphore mdio_;
  Semaphore fuse_;
  std::function<void()> grantHook_;
  std::function<void(SemaphoreId)> releaseHook_;
};

}  // namespace hlv::sim
