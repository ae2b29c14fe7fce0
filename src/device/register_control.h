// 32-bit access to an adapter's registers through its mapped PCI region 0.
#pragma once

#include <cstdint>
#include <memory>

#include "device/pci_device.h"
#include "device/voregcontrolinterface.h"

namespace hlv {

// Read by any access to a window that is not mapped, and by accesses outside the window.
inline constexpr uint32_t kUnmappedRegisterValue = 0xFFFFFFFF;

// Volatile loads and stores on a mapped window it does not own: the PciDevice that was mapped
// owns the window and must outlive this object. A null base stands for an adapter whose
// registers could not be mapped. An offset that is not a multiple of 4 or whose word does not lie
// wholly inside the window is treated like an access to an unmapped window: it reads 0xFFFFFFFF,
// a write is lost, and memory outside the mapping is never touched.
class VoRegControl : public VoRegControlInterface {
 public:
  VoRegControl(void* base, uint64_t length) : base_(base), length_(length) {}
  uint32_t read32(uint32_t offset) override;
  void write32(uint32_t offset, uint32_t value) override;

  void* base() const { return base_; }
  uint64_t length() const { return length_; }

 private:
  void* base_;
  uint64_t length_;
};

// True when a 32-bit access at offset lies wholly inside a window of this length and is aligned.
bool registerOffsetInWindow(uint32_t offset, uint64_t windowLength);

// Maps region 0 of the device ("resource0", read-write, shared) with the region's size as length,
// storing the descriptor and the mapping in the device. Null, with nothing left open and the
// reason in the device's mapError (ENXIO for a missing or empty region,
// platform::kWindowTooSmallError for one shorter than reg::kRegisterWindowNeeded, which is not
// even opened), when the region is missing, empty or too short or the file cannot be opened or
// mapped. A device already mapped keeps its window.
void* mapBar0(PciDevice& device);

// The register access for an adapter: maps region 0 and returns access to the window, which the
// device owns and must outlive the returned object. When the platform emulates the window, the
// access forwards to the emulated registers, with the same window bounds; when mapping failed,
// every read returns 0xFFFFFFFF and writes are lost.
std::unique_ptr<VoRegControlInterface> openRegisterControl(PciDevice& device);

}  // namespace hlv
