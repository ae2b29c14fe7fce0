#include "engine/type2_update.h"

#include "engine/block_handover.h"
#include "engine/block_roles.h"
#include "engine/component_copy.h"
#include "engine/flash_layout.h"
#include "engine/ncb.h"
#include "engine/new_ncb.h"
#include "engine/type2_update_trace.h"
#include "platform/hlv_assert.h"

namespace hlv {
namespace tp = trace_points::type2_update;

FlashUpdateStatus type2PerformUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb ncb0,
                                     HalvernNcb ncb1, const UpdateData& updateData) {
  HLV_ASSERT(ncb0.active() || ncb1.active());
  HLV_ASSERT(updateData.image.has_value());
  // The new block goes into the other slot, the firmware into that slot's bank.
  const BlockRoles<HalvernNcb> roles = *chooseBlocks(ncb0, ncb1);
  const HalvernNcb activeNcb = roles.active;
  const HalvernNcb newNcb = roles.other;
  const uint32_t activeAddress = roles.activeSlot.address();
  const uint32_t newAddress = roles.otherSlot.address();
  const uint32_t bankStart = roles.otherSlot.bank().start;
  trace::emit(tp::kStart, activeAddress, newAddress, bankStart);
  traceNcb(ncb0, kNcb0Address);
  traceNcb(ncb1, kNcb1Address);

  if (!buildNewNcb(activeNcb, newNcb, newAddress, updateData)) {
    trace::emit(tp::kBuildFailed);
    return kStatusNcbBuildFailed;
  }

  const UpdateImage& image = *updateData.image;
  return handOverActiveBlock(
      flashCtrl, {.newNcb = newNcb,
                  .newAddress = newAddress,
                  .oldNcb = activeNcb,
                  .oldAddress = activeAddress,
                  .roomStart = bankStart,
                  .roomLength = kBankLength,
                  .fill =
                      [&](uint32_t& cursor, uint32_t erased) {
                        if (erased != kBankLength) return FillOutcome{kStatusFlashEraseFailed};
                        return FillOutcome{copyAllFromUpdate(flashCtrl, newNcb, cursor, image)};
                      },
                  .old = OldBlock::kKept,
                  .points = {tp::kAttemptFailed, tp::kNewNcbNotCleared, tp::kFailed,
                             tp::kDeactivateFailed, tp::kDone}});
}

}  // namespace hlv
