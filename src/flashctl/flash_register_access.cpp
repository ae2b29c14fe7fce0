#include "flashctl/flash_register_access.h"

#include "device/register_map.h"
#include "flashctl/voapiflashcontrol.h"
#include "platform/hlv_assert.h"

namespace hlv {

VoApiFlashCtrlCtx gVoApiFlashCtrlCtx;

namespace {

// Per device: the last register read and its value, the pending upper half and its value.
// They live for the whole process and are never reset.
uint32_t gLastReadRegister[kSplitHalvesDevices];
uint32_t gLastReadValue[kSplitHalvesDevices];
uint32_t gPendingUpperRegister[kSplitHalvesDevices];
uint32_t gPendingUpperValue[kSplitHalvesDevices];

}  // namespace

uint32_t HW_API_Read32(uint32_t /*device*/, uint32_t reg) {
  HLV_ASSERT(gVoApiFlashCtrlCtx.ctrl);
  return gVoApiFlashCtrlCtx.ctrl->registers()->read32(reg);
}

void HW_API_Write32(uint32_t /*device*/, uint32_t reg, uint32_t value) {
  HLV_ASSERT(gVoApiFlashCtrlCtx.ctrl);
  gVoApiFlashCtrlCtx.ctrl->registers()->write32(reg, value);
}

uint32_t readReg(uint32_t device, uint32_t reg) {
  if (device >= kSplitHalvesDevices) return 0xFFFFFFFF;
  if ((reg == reg::kFlashAddressUpper && gLastReadRegister[device] == reg::kFlashAddress) ||
      (reg == reg::kFlashDataUpper && gLastReadRegister[device] == reg::kFlashData)) {
    gLastReadRegister[device] = reg;
    return gLastReadValue[device];
  }
  const uint32_t value = HW_API_Read32(device, reg & ~reg::kUpperHalfFlag);
  gLastReadRegister[device] = reg;
  gLastReadValue[device] = value;
  return value;
}

void writeReg(uint32_t device, uint32_t reg, uint32_t value) {
  if (device >= kSplitHalvesDevices) return;
  if (reg == reg::kFlashAddressUpper || reg == reg::kFlashDataUpper) {
    gPendingUpperRegister[device] = reg;
    gPendingUpperValue[device] = value;
    return;
  }
  if ((reg == reg::kFlashAddress && gPendingUpperRegister[device] == reg::kFlashAddressUpper) ||
      (reg == reg::kFlashData && gPendingUpperRegister[device] == reg::kFlashDataUpper)) {
    value = gPendingUpperValue[device] << 16 | value;
  }
  HW_API_Write32(device, reg & ~reg::kUpperHalfFlag, value);
}

}  // namespace hlv
