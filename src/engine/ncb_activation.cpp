#include "engine/ncb_activation.h"

#include "engine/flash_access.h"
#include "engine/ncb.h"
#include "engine/ncb_activation_trace.h"

namespace hlv {
namespace tp = trace_points::ncb_activation;

FlashUpdateStatus eraseNcbBlock(VoFlashControlInterface& flashCtrl, uint32_t ncbAddress) {
  return eraseNcbStart(flashCtrl, ncbAddress, kNcbBlockSize);
}

FlashUpdateStatus eraseNcbStart(VoFlashControlInterface& flashCtrl, uint32_t ncbAddress,
                                uint32_t length) {
  trace::emit(tp::kErase, ncbAddress, length);
  if (!partHoldsLayout(flashCtrl) || length > kNcbBlockSize || length % flashCtrl.sectorSize != 0) {
    trace::emit(tp::kEraseRefused, flashCtrl.sectorSize);
    return kStatusFlashEraseFailed;
  }
  // An erase cut short may keep the state over a half-erased body: the block is deactivated
  // first.
  FlashUpdateStatus status = clearNcbStateInPlace(flashCtrl, ncbAddress);
  if (status != kStatusSuccess) {
    trace::emit(tp::kEraseFailed, ncbAddress, status, 0u);
    return kStatusFlashEraseFailed;
  }
  uint32_t erasedFrom = 0;
  uint32_t erasedBytes = 0;
  status = eraseRange(flashCtrl, ncbAddress, length, erasedFrom, erasedBytes);
  if (status != kStatusSuccess || erasedFrom != ncbAddress || erasedBytes != length) {
    trace::emit(tp::kEraseFailed, ncbAddress, status, erasedBytes);
    return kStatusFlashEraseFailed;
  }
  return kStatusSuccess;
}

FlashUpdateStatus writeActivatingNcb(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                     uint32_t ncbAddress, bool& cleared) {
  return writeActivatingNcbStart(flashCtrl, ncb, ncbAddress, kNcbBlockSize, cleared);
}

FlashUpdateStatus writeActivatingNcbStart(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                          uint32_t ncbAddress, uint32_t length, bool& cleared) {
  const FlashUpdateStatus status = writeNcbStart(flashCtrl, ncb, ncbAddress, length);
  if (status == kStatusSuccess) {
    cleared = true;
    return status;
  }
  trace::emit(tp::kWriteFailed, ncbAddress, status);
  cleared = eraseNcbStart(flashCtrl, ncbAddress, length) == kStatusSuccess;
  if (!cleared) trace::emit(tp::kLeftUncleared, ncbAddress);
  return status;
}

}  // namespace hlv
