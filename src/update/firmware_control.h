// Bringing flashed firmware into service without a power cycle: find out which firmware
// interface the running firmware offers, reset the firmware, restart the PHY through the MDIO
// interface, and wait with bounded polls until the new firmware answers. Every access goes
// straight to the adapter's registers; every wait is measured in sleeps of the platform (virtual
// time on emulated adapters).
#pragma once

#include <cstdint>

#include "device/voregcontrolinterface.h"
#include "shared/status_table.h"

namespace hlv {

enum class FirmwareInterface : uint32_t { kNone = 0, kInterface1 = 1, kInterface2 = 2 };

// Results of the reload sequences (0 is success): kStatusFirmwareNotUp, kStatusPhyNotUp and
// kStatusNoFirmwareInterface.
HLV_FIRMWARE_RELOAD_STATUSES(HLV_STATUS_CONSTANT)

// Sets or clears bit 0 of the control word (0x404). The update sets it before it opens the
// flash, so that the flash session saves the control word with the bit set and restores it so
// when it closes; the reset sequences below later write whole control words.
void setReg404Bit0(VoRegControlInterface& reg, bool set);

// The reload. `flag` chooses a partial reload; the program always passes false (the whole
// reload). Interface 1 runs reloadInterface1(flag); interface 2 runs reloadInterface2, or with
// flag only clears bit 3 of PHY register 0x1000 (result 0); no interface gives
// kStatusNoFirmwareInterface without a register written.
uint32_t reloadFirmwareSequence(VoRegControlInterface& reg, bool flag);

// Up to 1000 passes over 0x704 and 0x388 without pauses: interface 2 as soon as 0x388 is not 0,
// interface 1 as soon as 0x704 is not 0x6000000; kNone when neither happens.
FirmwareInterface detectFirmwareInterface(VoRegControlInterface& reg);

// resetSequence1 (kStatusFirmwareNotUp when it fails), restartPhy (kStatusPhyNotUp); with flag
// that is all: the firmware is reset and the PHY restarted, without the global reset. Otherwise a global reset and the wait for 0x18 to read 0 (the reset has reached
// the firmware), then non-zero (kStatusFirmwareNotUp when either never comes).
uint32_t reloadInterface1(VoRegControlInterface& reg, bool flag);
// The interface-1 firmware reset; false when 0x704 bit 4 never comes.
bool resetSequence1(VoRegControlInterface& reg);
// The PHY restart; false when the PHY never reports ready.
bool restartPhy(VoRegControlInterface& reg);

// The interface-2 reload: PHY register 0x1000 bit 3 cleared, 0x388 marked, a global reset, the
// wait for the firmware to overwrite 0x388 (traced only) and for 0x18 (kStatusFirmwareNotUp).
uint32_t reloadInterface2(VoRegControlInterface& reg);
// Clears bit 3 of PHY register 0x1000 (a read, then a write of the value without the bit), as
// the interface-2 reload does before the firmware is reset; it is all a partial interface-2
// reload does. When nothing could be read (no semaphore, a frame that never ended, no PHY
// answering) nothing is written. Failures are traced, not reported.
void clearPhyReg1000Bit3(VoRegControlInterface& reg);

}  // namespace hlv
