// How the flash sequences reach the adapter's registers: through the flash control object that
// owns the interface (the process-wide context), and through a layer that lets them treat the
// 32-bit address and data registers as two 16-bit halves.
#pragma once

#include <cstdint>

#include "shared/flash_progress.h"

namespace hlv {

class VoApiFlashControl;

// Handed to every sequence: the interface kind (always 10), the device index into the
// split-halves tables (always 0), and who is told of the bytes done (nobody when null).
struct FlashHwContext {
  uint32_t interfaceKind = 10;
  uint32_t deviceIndex = 0;
  FlashProgressObserver* progress = nullptr;
};

// Names the flash control object that owns the flash interface, or null.
struct VoApiFlashCtrlCtx {
  VoApiFlashControl* ctrl = nullptr;
};
extern VoApiFlashCtrlCtx gVoApiFlashCtrlCtx;

// One 32-bit access through the owner's register access object; the device takes no part.
uint32_t HW_API_Read32(uint32_t device, uint32_t reg);
void HW_API_Write32(uint32_t device, uint32_t reg, uint32_t value);

// Register offsets with bit 26 set name the upper half of the address or data register.
// Reading the lower half and then the upper half of a register costs one hardware read; an
// upper half written is kept and combined with the next lower-half write of that register.
// Devices above 15 read 0xFFFFFFFF and write nothing.
uint32_t readReg(uint32_t device, uint32_t reg);
void writeReg(uint32_t device, uint32_t reg, uint32_t value);

inline constexpr uint32_t kSplitHalvesDevices = 16;

}  // namespace hlv
