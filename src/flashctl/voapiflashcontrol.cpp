#include "flashctl/voapiflashcontrol.h"

#include "flashctl/flash_sequences.h"
#include "flashctl/voapiflashcontrol_trace.h"
#include "platform/hlv_assert.h"
#include "platform/interrupt_hold.h"
#include "shared/flash_address_space.h"

namespace hlv {
namespace {

namespace tp = trace_points::voapiflashcontrol;

// The sequences send three address bytes: nothing above 16 MiB can be reached without aliasing.
constexpr uint64_t kAddressSpace = kLargestFlashSize;

}  // namespace

VoApiFlashControl::VoApiFlashControl(VoRegControlInterface* regCtrl) : regCtrl_(regCtrl) {}

VoApiFlashControl::~VoApiFlashControl() {
  if (registersSaved_) {
    HLV_ASSERT(gVoApiFlashCtrlCtx.ctrl == this);
    closeInterface(context_, saved_);
  }
  if (gVoApiFlashCtrlCtx.ctrl == this) gVoApiFlashCtrlCtx.ctrl = nullptr;
  if (holdsInterrupts_) platform::releaseInterrupts();
}

bool VoApiFlashControl::init() {
  if (initialized_) return true;
  if (gVoApiFlashCtrlCtx.ctrl != nullptr) {
    trace::emit(tp::kInitBusy);
    return false;
  }
  // From here until the destructor has restored the registers an interrupt only becomes
  // pending.
  platform::holdInterrupts();
  holdsInterrupts_ = true;
  gVoApiFlashCtrlCtx.ctrl = this;
  openInterface(context_, saved_, kClockSetting);
  registersSaved_ = true;

  const FlashStatus identified = identifyPart(context_, flashType_, flashId);
  if (identified != FLASH_OK) {
    trace::emit(tp::kIdentifyFailed, identified);
    return false;
  }
  const FlashStatus loaded = loadParams(context_, flashType_, params_);
  if (loaded != FLASH_OK) {
    trace::emit(tp::kLoadParamsFailed, loaded);
    return false;
  }
  pageSize = params_.pageSize;
  sectorSize = static_cast<uint32_t>(params_.smallErasePages) * pageSize;
  blockSize = static_cast<uint32_t>(pageSize) * params_.largeErasePages;
  blockEraseSupported = params_.largeErasePages != 0;
  flashSize = params_.flashSize;
  initialized_ = true;
  trace::emit(tp::kInitialized, flashType_, flashId, pageSize, sectorSize, blockSize, flashSize);
  return true;
}

bool VoApiFlashControl::usable() const {
  if (initialized_) return true;
  // The sequences reach the registers of whichever object owns the interface: an object that
  // does not own it would drive another adapter's flash.
  trace::emit(tp::kNotInitialized);
  return false;
}

bool VoApiFlashControl::rangeInFlash(uint32_t address, uint32_t length) const {
  const uint64_t end = static_cast<uint64_t>(address) + length;
  if (end <= flashSize && end <= kAddressSpace) return true;
  trace::emit(tp::kRangeRefused, address, length, flashSize);
  return false;
}

bool VoApiFlashControl::read(uint32_t address, uint8_t* buffer, uint32_t length,
                             uint32_t& bytesRead) {
  bytesRead = 0;
  if (!usable()) return false;
  if (length != 0) {
    HLV_ASSERT(buffer != nullptr);
    if (!rangeInFlash(address, length)) return false;
  }
  const FlashStatus status =
      flashReadSequence(context_, params_, address, length, buffer, bytesRead);
  if (status != FLASH_OK) {
    trace::emit(tp::kReadFailed, status, length);
    return false;
  }
  return true;
}

bool VoApiFlashControl::write(uint32_t address, const uint8_t* buffer, uint32_t length,
                              uint32_t& bytesWritten) {
  bytesWritten = 0;
  if (!usable()) return false;
  if (length != 0) {
    HLV_ASSERT(buffer != nullptr);
    if (!rangeInFlash(address, length)) return false;
  }
  const FlashStatus status =
      flashProgramSequence(context_, params_, address, length, buffer, bytesWritten);
  if (status != FLASH_OK) {
    trace::emit(tp::kWriteFailed, status);
    return false;
  }
  return true;
}

FlashStatus VoApiFlashControl::erase(uint16_t opcode, uint32_t unitSize, uint32_t address) {
  if (!rangeInFlash(address, unitSize)) return FLASH_INVALID_REQUEST;
  if (address % unitSize != 0) {
    // The part would erase the whole unit around the address, bytes before it included.
    trace::emit(tp::kUnalignedErase, address, unitSize);
    return FLASH_INVALID_REQUEST;
  }
  const FlashStatus status = flashEraseSequence(context_, params_, opcode, address);
  if (status == FLASH_OK) reportFlashBytes(context_.progress, FlashOperation::kErase, unitSize);
  return status;
}

bool VoApiFlashControl::eraseSector(uint32_t address) {
  if (!usable()) return false;
  if (sectorSize == 0) {
    // No small-erase command: there is nothing to send (an opcode of 0 is no erase).
    trace::emit(tp::kNoSectorErase, address);
    return false;
  }
  const FlashStatus status = erase(params_.smallEraseOpcode, sectorSize, address);
  if (status != FLASH_OK) {
    trace::emit(tp::kEraseSectorFailed, status, address);
    return false;
  }
  return true;
}

bool VoApiFlashControl::eraseBlock(uint32_t address) {
  if (!usable()) return false;
  if (!blockEraseSupported) {
    trace::emit(tp::kBlockEraseUnsupported, flashId);
    HLV_ASSERT(false);
  }
  const FlashStatus status = erase(params_.largeEraseOpcode, blockSize, address);
  if (status != FLASH_OK) {
    trace::emit(tp::kEraseBlockFailed, status, address);
    return false;
  }
  return true;
}

}  // namespace hlv
