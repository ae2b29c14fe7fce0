#include "engine/type2_update.h"

#include <array>
#include <span>
#include <string_view>

#include "engine/component_copy.h"
#include "engine/flash_access.h"
#include "engine/flash_layout.h"
#include "engine/flash_verify.h"
#include "engine/ncb.h"
#include "engine/ncb_activation.h"
#include "engine/new_ncb.h"
#include "engine/type2_update_trace.h"
#include "platform/hlv_assert.h"

namespace hlv {
namespace tp = trace_points::type2_update;

namespace {

constexpr int kAttempts = 2;

}  // namespace

FlashUpdateStatus copyMacFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateData& updateData) {
  const ComponentPart parts[] = {
      {NcbComponent::kMacPart1, {updateData.macPart1, updateData.macPart1Size}},
      {NcbComponent::kMacPart2, {updateData.macPart2, updateData.macPart2Size}},
  };
  const FlashUpdateStatus status =
      placeComponentParts("MAC from the update", flashCtrl, nonactiveNcb, startAddress, parts);
  if (status == kStatusSuccess) nonactiveNcb.setMacCrc(updateData.macCrc);
  return status;
}

FlashUpdateStatus copyPhyFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateData& updateData) {
  const ComponentPart parts[] = {
      {NcbComponent::kPhyPart1, {updateData.phyPart1, updateData.phyPart1Size}},
      {NcbComponent::kPhyPart2, {updateData.phyPart2, updateData.phyPart2Size}},
  };
  const FlashUpdateStatus status =
      placeComponentParts("PHY from the update", flashCtrl, nonactiveNcb, startAddress, parts);
  if (status == kStatusSuccess) nonactiveNcb.setPhyCrc(updateData.phyCrc);
  return status;
}

FlashUpdateStatus copyRomFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateData& updateData) {
  const ComponentPart parts[] = {{NcbComponent::kRom, {updateData.rom, updateData.romSize}}};
  const FlashUpdateStatus status = placeComponentParts("option ROM from the update", flashCtrl,
                                                       nonactiveNcb, startAddress, parts);
  if (status == kStatusSuccess) nonactiveNcb.setRomCrc(updateData.romCrc);
  return status;
}

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

  if (!buildNewNcb(activeNcb, newNcb, newAddress, updateData)) {
    trace::emit(tp::kBuildFailed);
    return kStatusNcbBuildFailed;
  }

  FlashUpdateStatus status = kStatusSuccess;
  bool activated = false;
  for (int attempt = 1; attempt <= kAttempts && !activated; ++attempt) {
    // The old block is the one readers take here: the bank it does not use may be erased.
    uint32_t cursor = 0;
    uint32_t erased = 0;
    status = eraseRange(flashCtrl, bankStart, kBankLength, cursor, erased);
    if (status == kStatusSuccess && erased != kBankLength) status = kStatusFlashEraseFailed;
    if (status != kStatusSuccess) {
      trace::emit(tp::kAttemptFailed, static_cast<uint32_t>(attempt), status);
      continue;
    }
    status = copyMacFromUpdate(flashCtrl, newNcb, cursor, updateData);
    if (status == kStatusSuccess) status = copyPhyFromUpdate(flashCtrl, newNcb, cursor, updateData);
    if (status == kStatusSuccess) status = copyRomFromUpdate(flashCtrl, newNcb, cursor, updateData);
    if (status != kStatusSuccess) {
      trace::emit(tp::kAttemptFailed, static_cast<uint32_t>(attempt), status);
      continue;
    }

    newNcb.setState(NcbState::kActive);
    updateNcbCrc(newNcb);
    bool cleared = false;
    status = writeActivatingNcb(flashCtrl, newNcb, newAddress, cleared);
    if (status == kStatusSuccess) {
      activated = true;
      break;
    }
    trace::emit(tp::kAttemptFailed, static_cast<uint32_t>(attempt), status);
    if (!cleared) {
      // The new block may still read as active: its bank must stay as it is.
      trace::emit(tp::kNewNcbNotCleared, newAddress);
      return status;
    }
  }
  if (!activated) {
    trace::emit(tp::kFailed, status);
    return status;
  }

  // From here two blocks are active and readers take NCB0. Only the old block is written again.
  activeNcb.setState(NcbState::kDeactivated);
  if (activeNcb.freeOffset() != 0 || activeNcb.freeSize() != 0) {
    activeNcb.setFreeArea({0, 0});
    updateNcbCrc(activeNcb);
  }
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    status = writeNcb(flashCtrl, activeNcb, activeAddress);
    if (status == kStatusSuccess) break;
    trace::emit(tp::kDeactivateFailed, static_cast<uint32_t>(attempt), status);
  }
  if (status == kStatusSuccess) trace::emit(tp::kDone, newAddress);
  return status;
}

}  // namespace hlv
