// The hardware semaphores the adapter shares with its own firmware (one guards the MDIO
// interface to the PHY, one the fuses): a read that returns non-zero grants the semaphore to the
// reader, writing 1 releases it.
//
// While the program holds one, the firmware is locked out of what it guards; a process that ended
// then would leave the firmware locked out for good. So the operator's interrupt is held back
// (platform::InterruptHold) from just before each read that may grant a semaphore until the
// program has released it; an interrupt arriving meanwhile runs right after the release.
#pragma once

#include <cstdint>

#include "device/voregcontrolinterface.h"

namespace hlv {

// Reads the semaphore register until a read returns non-zero, for as long as fewer than limitMs
// milliseconds of the platform's monotonic clock have passed, pausing pauseUs microseconds between
// reads (0: the processor is only yielded). With limitMs 0 the register is never read. True when
// the semaphore was granted; elapsedMs tells how long was waited.
bool takeHardwareSemaphore(VoRegControlInterface& registers, uint32_t offset, uint32_t limitMs,
                           uint32_t pauseUs, uint64_t& elapsedMs);

// Writes 1 to the semaphore register and, when the program took it, ends the interrupt hold of
// that take.
void releaseHardwareSemaphore(VoRegControlInterface& registers, uint32_t offset);

}  // namespace hlv
