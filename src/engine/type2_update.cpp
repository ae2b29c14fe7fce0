#include "engine/type2_update.h"

#include "engine/block_handover.h"
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
  const bool ncb0Active = ncb0.active();
  const HalvernNcb activeNcb = ncb0Active ? ncb0 : ncb1;
  const HalvernNcb newNcb = ncb0Active ? ncb1 : ncb0;
  const uint32_t activeAddress = ncb0Active ? kNcb0Address : kNcb1Address;
  const uint32_t newAddress = ncb0Active ? kNcb1Address : kNcb0Address;
  const uint32_t bankStart = ncb0Active ? kBankBStart : kBankAStart;
  trace::emit(tp::kStart, activeAddress, newAddress, bankStart);
  traceNcb(ncb0, kNcb0Address);
  traceNcb(ncb1, kNcb1Address);
  HLV_ASSERT(ncb0.active() || ncb1.active());
  HLV_ASSERT(updateData.image.has_value());

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
