// What the update tests share: an emulated adapter that can lose power and come back, a reader
// that judges a flash dump the way the adapter's boot code would, and flashes in each layout the
// update entry meets, with small components.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/firmware_update.h"
#include "engine/firmware_version.h"
#include "flashctl/voapiflashcontrol.h"
#include "sim/emulated_adapter.h"
#include "sim/virtual_clock.h"
#include "tests/support/reference_layout.h"
#include "tools/hlvimage/image_spec.h"

namespace hlv::test {

// An emulated adapter (busy times shortened, so that a sweep of many runs stays quick; the
// part is still busy after every program and erase long enough to catch a command sent too
// early) with the real flash layer on it. Its teardown asserts that the adapter counted no
// protocol violation and no access to a register nobody claims, over its whole life.
class UpdateBench {
 public:
  explicit UpdateBench(uint32_t jedecId = 0xEF6015);
  ~UpdateBench();
  UpdateBench(const UpdateBench&) = delete;
  UpdateBench& operator=(const UpdateBench&) = delete;

  // Puts bytes at the start of the part, as programmed earlier; the rest stays erased.
  void load(const std::vector<uint8_t>& bytes);
  // The whole part.
  std::vector<uint8_t> contents() const;
  // The flash control for the next engine call, initialised.
  VoApiFlashControl& flash() { return *flash_; }
  sim::EmulatedAdapter& adapter() { return *adapter_; }
  uint64_t modifyingTransfers() const { return adapter_->stats().modifyingTransfers; }

  // Power is lost right after the n-th further program or erase command.
  void cutPowerAfter(uint64_t commands) { adapter_->cutPowerAfter(commands); }
  // Power is lost while the n-th further one runs, which is left partly done (from the seed).
  void cutPowerDuring(uint64_t command, uint64_t seed) { adapter_->cutPowerDuring(command, seed); }
  // Power comes back: a new flash control is set up as a new run of the program would.
  void restart();

 private:
  sim::VirtualClock clock_;
  std::unique_ptr<sim::EmulatedAdapter> adapter_;
  std::unique_ptr<VoApiFlashControl> flash_;
};

// One update to run: the flash before, the image, and what is passed with it.
struct UpdateCase {
  std::string name;
  std::vector<uint8_t> flash;
  std::vector<uint8_t> image;
  FirmwareVersion oldVersion;
  FirmwareVersion newVersion;
  std::vector<uint8_t> blobD;
  std::vector<uint8_t> blobE;
  uint16_t subsystemVendorId = kLegacySubsystemVendorId;
  uint16_t subsystemDeviceId = kLegacySubsystemDeviceId;

  FlashUpdateInput input() const;
};

// Component sizes small enough for a few hundred flash commands per update.
inline constexpr std::array<uint32_t, 5> kSmallComponents = {0x200, 0x400, 0x200, 0x100, 0x300};

// The version on the flash before and the one the update brings.
inline constexpr FirmwareVersion kOldVersion{1, 5, 90};
inline constexpr FirmwareVersion kNewVersion{1, 6, 2};

// A block of small components holding `version`, its bytes drawn from `seed`; an erased block.
image::NcbSpec smallBlock(FirmwareVersion version, uint32_t seed);
image::NcbSpec erasedBlock();

// A type-2 update image with small components and the new version.
image::ImageSpec smallUpdateImageSpec();

// What an update leaves: NCB0 running kOldVersion over bank A, NCB1 deactivated over bank B with
// 1.4.0, small components.
image::ImageSpec updatedSpec();

// The flashes a sweep starts from: the two type-2 directions and one flash for each row of the
// transform table, each followed by the update.
std::vector<UpdateCase> sweepCases();

// The case with this name from sweepCases().
UpdateCase sweepCase(const std::string& name);

}  // namespace hlv::test
