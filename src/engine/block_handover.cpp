#include "engine/block_handover.h"

#include "engine/flash_access.h"
#include "engine/ncb.h"
#include "engine/ncb_activation.h"

namespace hlv {
namespace {

constexpr uint32_t kAttempts = 2;

void deactivate(HalvernNcb ncb, OldBlock old) {
  ncb.setState(NcbState::kDeactivated);
  switch (old) {
    case OldBlock::kKept:
      // The state bits lie outside the CRC range: the CRC changes only with the free area.
      if (ncb.freeOffset() != 0 || ncb.freeSize() != 0) {
        ncb.setFreeArea({0, 0});
        updateNcbCrc(ncb);
      }
      break;
    case OldBlock::kSpoiled:
      ncb.setFreeArea({0, 0});
      ncb.setCrc(0);
      break;
  }
}

}  // namespace

FlashUpdateStatus handOverActiveBlock(VoFlashControlInterface& flashCtrl,
                                      const BlockHandover& handover) {
  const HandoverPoints& tp = handover.points;
  const HalvernNcb newNcb = handover.newNcb;
  FlashUpdateStatus status = kStatusSuccess;
  bool activated = false;
  for (uint32_t attempt = 1; attempt <= kAttempts && !activated; ++attempt) {
    // The old block is the one readers take here: the room may be erased.
    uint32_t cursor = 0;
    uint32_t erased = 0;
    status = eraseRange(flashCtrl, handover.roomStart, handover.roomLength, cursor, erased);
    if (status == kStatusSuccess) {
      const FillOutcome filled = handover.fill(cursor, erased);
      if (filled.final) return filled.status;
      status = filled.status;
    }
    if (status != kStatusSuccess) {
      trace::emit(tp.attemptFailed, attempt, status);
      continue;
    }
    newNcb.setFreeArea({0, 0});
    newNcb.setState(NcbState::kActive);
    updateNcbCrc(newNcb);
    bool cleared = false;
    status = writeActivatingNcb(flashCtrl, newNcb, handover.newAddress, cleared);
    if (status == kStatusSuccess) {
      activated = true;
      break;
    }
    trace::emit(tp.attemptFailed, attempt, status);
    if (!cleared) {
      // The new block may still read as active: what it describes must stay as it is.
      trace::emit(tp.newNcbNotCleared, handover.newAddress);
      return status;
    }
  }
  if (!activated) {
    trace::emit(tp.failed, status);
    return status;
  }

  // From here two blocks are active and readers take NCB0. Only the old block is written again.
  deactivate(handover.oldNcb, handover.old);
  for (uint32_t attempt = 1; attempt <= kAttempts; ++attempt) {
    status = writeNcb(flashCtrl, handover.oldNcb, handover.oldAddress);
    if (status == kStatusSuccess) break;
    trace::emit(tp.deactivateFailed, attempt, status);
  }
  if (status == kStatusSuccess) trace::emit(tp.done, handover.newAddress);
  return status;
}

}  // namespace hlv
