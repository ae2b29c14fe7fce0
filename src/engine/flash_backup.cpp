#include "engine/flash_backup.h"

#include "engine/flash_access.h"
#include "engine/flash_backup_trace.h"

namespace hlv {
namespace tp = trace_points::flash_backup;

FlashUpdateStatus readFlashImage(VoFlashControlInterface& flashCtrl, uint8_t* buffer,
                                 uint32_t length) {
  trace::emit(tp::kRead, length);
  if (!flashCtrl.init()) {
    trace::emit(tp::kInitFailed);
    return kStatusFlashInitFailed;
  }
  const FlashUpdateStatus status = readFlash(flashCtrl, 0, buffer, length);
  trace::emit(tp::kResult, status);
  return status;
}

}  // namespace hlv
