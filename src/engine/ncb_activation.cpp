#include "engine/ncb_activation.h"

#include "engine/flash_access.h"
#include "engine/ncb.h"
#include "engine/ncb_activation_trace.h"

namespace hlv {
namespace tp = trace_points::ncb_activation;

FlashUpdateStatus eraseNcbBlock(VoFlashControlInterface& flashCtrl, uint32_t ncbAddress) {
  trace::emit(tp::kErase, ncbAddress);
  if (!partHoldsLayout(flashCtrl) || kNcbBlockSize % flashCtrl.sectorSize != 0) {
    trace::emit(tp::kEraseRefused, flashCtrl.sectorSize);
    return kStatusFlashEraseFailed;
  }
  uint32_t erasedFrom = 0;
  uint32_t erasedBytes = 0;
  const FlashUpdateStatus status =
      eraseRange(flashCtrl, ncbAddress, kNcbBlockSize, erasedFrom, erasedBytes);
  if (status != kStatusSuccess || erasedFrom != ncbAddress || erasedBytes != kNcbBlockSize) {
    trace::emit(tp::kEraseFailed, ncbAddress, status, erasedBytes);
    return kStatusFlashEraseFailed;
  }
  return kStatusSuccess;
}

FlashUpdateStatus writeActivatingNcb(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                     uint32_t ncbAddress, bool& cleared) {
  const FlashUpdateStatus status = writeNcb(flashCtrl, ncb, ncbAddress);
  if (status == kStatusSuccess) {
    cleared = true;
    return status;
  }
  trace::emit(tp::kWriteFailed, ncbAddress, status);
  cleared = eraseNcbBlock(flashCtrl, ncbAddress) == kStatusSuccess;
  if (!cleared) trace::emit(tp::kLeftUncleared, ncbAddress);
  return status;
}

}  // namespace hlv
