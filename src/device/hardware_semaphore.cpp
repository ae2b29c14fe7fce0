#include "device/hardware_semaphore.h"

#include <algorithm>
#include <array>

#include "device/register_map.h"
#include "platform/hlv_assert.h"
#include "platform/interrupt_hold.h"
#include "platform/platform.h"

namespace hlv {
namespace {

// The semaphores the program holds, each with the interrupt hold of its take. The program is
// single-threaded and holds at most one semaphore per sequence.
struct HeldSemaphore {
  const VoRegControlInterface* registers = nullptr;
  uint32_t offset = 0;
};
std::array<HeldSemaphore, 4> gHeld;

HeldSemaphore* findHeld(const VoRegControlInterface& registers, uint32_t offset) {
  for (HeldSemaphore& held : gHeld) {
    if (held.registers == &registers && held.offset == offset) return &held;
  }
  return nullptr;
}

void recordHeld(const VoRegControlInterface& registers, uint32_t offset) {
  const auto free = std::find_if(gHeld.begin(), gHeld.end(), [](const HeldSemaphore& held) {
    return held.registers == nullptr;
  });
  HLV_ASSERT(free != gHeld.end());
  *free = {&registers, offset};
}

constexpr uint64_t kNanosecondsPerMillisecond = 1000000;

}  // namespace

bool takeHardwareSemaphore(VoRegControlInterface& registers, uint32_t offset, uint32_t limitMs,
                           uint32_t pauseUs, uint64_t& elapsedMs) {
  platform::Platform& platform = platform::current();
  const uint64_t start = platform.monotonicNanoseconds();
  const uint64_t limitNs = static_cast<uint64_t>(limitMs) * kNanosecondsPerMillisecond;
  uint64_t elapsedNs = 0;
  while (elapsedNs < limitNs) {
    // Held from before the read: a grant and an interrupt may come in either order.
    platform::holdInterrupts();
    if (registers.read32(offset) != 0) {
      if (findHeld(registers, offset) == nullptr) {
        recordHeld(registers, offset);
      } else {
        platform::releaseInterrupts();  // taken twice: one hold suffices
      }
      elapsedMs = (platform.monotonicNanoseconds() - start) / kNanosecondsPerMillisecond;
      return true;
    }
    platform::releaseInterrupts();
    if (pauseUs != 0) {
      platform.sleepMicroseconds(pauseUs);
    } else {
      platform.yieldProcessor();
    }
    elapsedNs = platform.monotonicNanoseconds() - start;
  }
  elapsedMs = elapsedNs / kNanosecondsPerMillisecond;
  return false;
}

void releaseHardwareSemaphore(VoRegControlInterface& registers, uint32_t offset) {
  registers.write32(offset, reg::kSemaphoreRelease);
  if (HeldSemaphore* held = findHeld(registers, offset)) {
    *held = {};
    platform::releaseInterrupts();  // may run a pending interrupt: nothing is held any more
  }
}

}  // namespace hlv
