// The MDIO interface to the adapter's PHY (Clause 45 frames), shared with the adapter's own
// firmware through the MDIO hardware semaphore.
//
// Every wait here is bounded. A frame keeps bit 31 of the command register set while it runs;
// a frame that has not ended after kMdioFrameLimitUs of the platform's monotonic clock is given
// up: a read then gives kMdioNoValue without touching the read data register, a write is dropped
// before its data are written, and both are traced.
#pragma once

#include <cstdint>

#include "device/register_map.h"
#include "device/voregcontrolinterface.h"

namespace hlv {

// What a read gives when nothing was read (the semaphore not granted, a frame that never ended).
inline constexpr uint32_t kMdioNoValue = 0xFFFFFFFF;
// What the bus reads where no PHY answers (low 16 bits of a read).
inline constexpr uint16_t kMdioNobody = 0xFFFF;
inline constexpr uint32_t kMdioFrameLimitUs = 10000;
// Every caller waits this long for the MDIO semaphore.
inline constexpr uint32_t kMdioSemaphoreTimeoutMs = 1000;
// The PHY's vendor device, where every register of the firmware control sequences lies.
inline constexpr uint32_t kPhyVendorDevice = reg::phy::kVendorDevice;

// The MDIO semaphore: polls for fewer than timeoutMs milliseconds with 1 ms pauses (never reads
// with 0). While held, the operator's interrupt waits for the release.
bool takeHwSemaphore(VoRegControlInterface& reg, uint32_t timeoutMs);
void releaseHwSemaphore(VoRegControlInterface& reg);

// Programs the setup register ((divider << 5) | 1, plus 2 when the interface is to be disabled)
// and waits for the interface to be idle. Needs no semaphore.
void setupMdio(VoRegControlInterface& reg, bool enable, uint8_t divider);

// One register of a PHY device; the caller holds the semaphore. The 16-bit value, or
// kMdioNoValue when a frame did not end.
uint32_t mdioRead(VoRegControlInterface& reg, uint32_t phy, uint32_t device, uint32_t address);
void mdioWrite(VoRegControlInterface& reg, uint32_t phy, uint32_t device, uint32_t address,
               uint16_t value);

// The same with the semaphore taken and released around the frames; without it nothing is sent
// and the read gives kMdioNoValue. The read is on the vendor device.
uint32_t mdioReadLocked(VoRegControlInterface& reg, uint32_t phy, uint32_t address);
void mdioWriteLocked(VoRegControlInterface& reg, uint32_t phy, uint32_t device, uint32_t address,
                     uint16_t value);

// The first PHY address (0 to 31) whose device 1 register 3 answers, after programming the setup
// register when setupFirst is set; 0 when none answers.
uint16_t findPhyAddress(VoRegControlInterface& reg, bool setupFirst);

}  // namespace hlv
