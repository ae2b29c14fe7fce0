#include "device/register_control.h"

#include <cerrno>

#include "device/register_control_trace.h"
#include "device/register_map.h"
#include "platform/mapping_refusal.h"
#include "platform/platform.h"

namespace hlv {
namespace {

namespace tp = trace_points::register_control;

// A window the platform emulates: the registers are a model, not memory, but the window keeps
// the bounds of the mapped region so that an emulated adapter answers like a mapped one.
class EmulatedRegisterControl : public VoRegControlInterface {
 public:
  EmulatedRegisterControl(VoRegControlInterface& registers, uint64_t length)
      : registers_(registers), length_(length) {}
  uint32_t read32(uint32_t offset) override {
    return registerOffsetInWindow(offset, length_) ? registers_.read32(offset)
                                                   : kUnmappedRegisterValue;
  }
  void write32(uint32_t offset, uint32_t value) override {
    if (registerOffsetInWindow(offset, length_)) registers_.write32(offset, value);
  }

 private:
  VoRegControlInterface& registers_;
  uint64_t length_;
};

}  // namespace

bool registerOffsetInWindow(uint32_t offset, uint64_t windowLength) {
  return offset % sizeof(uint32_t) == 0 && windowLength >= sizeof(uint32_t) &&
         offset <= windowLength - sizeof(uint32_t);
}

uint32_t VoRegControl::read32(uint32_t offset) {
  if (base_ == nullptr || !registerOffsetInWindow(offset, length_)) return kUnmappedRegisterValue;
  return *reinterpret_cast<volatile const uint32_t*>(static_cast<const uint8_t*>(base_) + offset);
}

void VoRegControl::write32(uint32_t offset, uint32_t value) {
  if (base_ == nullptr || !registerOffsetInWindow(offset, length_)) return;
  *reinterpret_cast<volatile uint32_t*>(static_cast<uint8_t*>(base_) + offset) = value;
}

void* mapBar0(PciDevice& device) {
  if (device.mapping() != nullptr) return device.mapping();
  const PciResource& region = device.resources[0];
  if (region.start == 0 || region.size == 0) {
    device.mapError = ENXIO;  // the kernel gave the function no memory region to map
    return nullptr;
  }
  if (region.size < reg::kRegisterWindowNeeded) {
    // Not mapped at all: with some registers outside the window, an update or a firmware reset
    // would seem to go through while part of it never reached the adapter.
    device.mapError = platform::kWindowTooSmallError;
    trace::emit(tp::kWindowTooSmall, device.path, region.size, reg::kRegisterWindowNeeded);
    return nullptr;
  }

  const platform::RegisterWindow window = platform::current().mapRegisterWindow(
      platform::current().hostPath(device.path + "/resource0"), region.size);
  if (window.mapping == nullptr) {
    // The platform closes what it opened when the mapping fails: nothing is held.
    device.mapError = window.error != 0 ? window.error : EIO;
    return nullptr;
  }
  device.mapError = 0;
  device.window = RegisterWindowMapping(window.fd, window.mapping, region.size, device.path);
  return device.mapping();
}

std::unique_ptr<VoRegControlInterface> openRegisterControl(PciDevice& device) {
  void* base = mapBar0(device);
  const uint64_t length = device.window.length();
  if (base != nullptr) {
    if (VoRegControlInterface* emulated = platform::current().emulatedRegisters(base))
      return std::make_unique<EmulatedRegisterControl>(*emulated, length);
  }
  return std::make_unique<VoRegControl>(base, length);
}

}  // namespace hlv
