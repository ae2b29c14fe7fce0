#include "engine/type1_transform.h"

#include <cstring>
#include <optional>

#include "engine/block_handover.h"
#include "engine/block_roles.h"
#include "engine/component_copy.h"
#include "engine/flash_access.h"
#include "engine/flash_layout.h"
#include "engine/ncb.h"
#include "engine/ncb_activation.h"
#include "engine/ncb_layout.h"
#include "engine/type1_transform_trace.h"
#include "platform/hlv_assert.h"

namespace hlv {
namespace tp = trace_points::type1_transform;

namespace {

constexpr int kAttempts = 2;

enum class Preparation : uint8_t {
  kNone,              // both blocks are used as they stand
  kCopyInMemory,      // DST := SRC deactivated, written only when the relocation is done
  kDuplicateOnFlash,  // SRC := DST (the active block), written active before anything else
};

// One row of the transform table.
struct TransformPlan {
  uint8_t row;
  NcbSlot srcSlot;
  NcbSlot dstSlot;
  Preparation preparation;
  // NCB1 becomes SRC or DST as it stands, without being the block readers take.
  bool takesNcb1AsItStands;
};

std::optional<TransformPlan> planTransform(ConstHalvernNcb ncb0, ConstHalvernNcb ncb1) {
  const std::optional<BlockRoles<ConstHalvernNcb>> roles = chooseBlocks(ncb0, ncb1);
  if (!roles) return std::nullopt;
  // The firmware moves into the bank that holds the active block's free area.
  const bool freeInBankA = roles->active.freeOffset() < kBankBStart;
  constexpr NcbSlot n0 = NcbSlot::ncb0();
  constexpr NcbSlot n1 = NcbSlot::ncb1();
  if (roles->activeSlot == n0) {
    if (roles->other.active()) {
      return freeInBankA ? TransformPlan{3, n1, n0, Preparation::kNone, true}
                         : TransformPlan{1, n0, n1, Preparation::kNone, true};
    }
    return freeInBankA ? TransformPlan{4, n1, n0, Preparation::kDuplicateOnFlash, false}
                       : TransformPlan{2, n0, n1, Preparation::kCopyInMemory, false};
  }
  return freeInBankA ? TransformPlan{5, n1, n0, Preparation::kCopyInMemory, false}
                     : TransformPlan{6, n0, n1, Preparation::kDuplicateOnFlash, false};
}

// The block whose components and free area the relocation uses: SRC, or for a duplicated block
// the active block it is a copy of.
ConstHalvernNcb regionSource(const TransformPlan& plan, ConstHalvernNcb ncb0,
                             ConstHalvernNcb ncb1) {
  const NcbSlot slot =
      plan.preparation == Preparation::kDuplicateOnFlash ? plan.dstSlot : plan.srcSlot;
  return slot.of(ncb0, ncb1);
}

// The whole erase sectors inside the free area: the only part of it that can be erased without
// touching bytes outside it.
struct UsableRange {
  uint32_t start = 0;
  uint32_t length = 0;
};

bool overlaps(NcbRegion a, NcbRegion b) {
  return a.size != 0 && b.size != 0 && a.offset < b.end() && b.offset < a.end();
}

FlashUpdateStatus checkPlan(const VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb0,
                            ConstHalvernNcb ncb1, const TransformPlan& plan, UsableRange& usable) {
  trace::emit(tp::kPlan, plan.row, uint32_t{plan.srcSlot.index()}, uint32_t{plan.dstSlot.index()});
  if (plan.takesNcb1AsItStands) {
    const FlashUpdateStatus status = validateNcb(ncb1, true);
    if (status != kStatusSuccess) {
      trace::emit(tp::kNcb1Invalid, status);
      return status;
    }
  }
  const ConstHalvernNcb source = regionSource(plan, ncb0, ncb1);
  if (!imagesDisjoint(source, true)) {
    trace::emit(tp::kOverlap);
    return kStatusRegionsOverlap;
  }
  const NcbRegion freeArea = source.freeArea();
  // The block readers take until the target is written must survive the erase (a plan exists
  // only while one is active).
  const ConstHalvernNcb reader = chooseBlocks(ncb0, ncb1)->active;
  for (NcbComponent component : kAllNcbComponents) {
    if (overlaps(freeArea, reader.component(component))) {
      trace::emit(tp::kFreeAreaOverReader, static_cast<uint8_t>(component), freeArea.offset,
                  freeArea.size);
      return kStatusRegionsOverlap;
    }
  }
  const uint32_t required = requiredBankSize(source, flashCtrl.pageSize);
  if (freeArea.size < required) {
    trace::emit(tp::kFreeAreaTooSmall, freeArea.size, required);
    return kStatusFreeAreaTooSmall;
  }
  if (freeArea.offset<kBankBStart&& static_cast<uint64_t>(freeArea.offset) + required>
          kBankBStart) {
    trace::emit(tp::kAcrossBanks, freeArea.offset, required);
    return kStatusFreeAreaAcrossBanks;
  }
  const AddressRange bank = plan.dstSlot.bank();
  if (freeArea.offset < bank.start || freeArea.end() > bank.end) {
    trace::emit(tp::kOutsideTargetBank, freeArea.offset, freeArea.size, bank.start);
    return kStatusFreeAreaAcrossBanks;
  }
  const uint32_t sector = flashCtrl.sectorSize;
  const uint32_t start = alignUp(freeArea.offset, sector);
  const uint32_t end = alignDown(freeArea.end(), sector);
  if (end <= start || end - start < required) {
    trace::emit(tp::kUsableTooSmall, start, end, required);
    return kStatusFreeAreaTooSmall;
  }
  usable = {start, end - start};
  trace::emit(tp::kRequirementsMet, usable.start, usable.length, required);
  return kStatusSuccess;
}

// Copies a whole block into the other slot: areaB's offset carries the slot bit of its new
// place, and the CRC is computed again.
void copyToSlot(ConstHalvernNcb from, HalvernNcb to, NcbSlot toSlot) {
  std::memcpy(to.data(), from.data(), kNcbBlockSize);
  NcbAreaDescriptor areaB = to.areaB();
  areaB.offset = static_cast<uint16_t>((areaB.offset & kNcbAreaOffsetMask) |
                                       (toSlot.isNcb1() ? kNcbAreaBSlotBit : 0));
  to.setArea(NcbArea::kB, areaB);
  updateNcbCrc(to);
}

}  // namespace

FlashUpdateStatus type1CheckTransformRequirements(VoFlashControlInterface& flashCtrl,
                                                  ConstHalvernNcb ncb0, ConstHalvernNcb ncb1) {
  const std::optional<TransformPlan> plan = planTransform(ncb0, ncb1);
  if (!plan) {
    trace::emit(tp::kNoActiveNcb);
    return kStatusNoValidActiveNcb;
  }
  UsableRange usable;
  return checkPlan(flashCtrl, ncb0, ncb1, *plan, usable);
}

bool type1TransformTarget(ConstHalvernNcb ncb0, ConstHalvernNcb ncb1, HalvernNcb target,
                          NcbSlot& targetSlot) {
  const std::optional<TransformPlan> plan = planTransform(ncb0, ncb1);
  if (!plan) return false;
  if (plan->preparation == Preparation::kCopyInMemory) {
    copyToSlot(plan->srcSlot.of(ncb0, ncb1), target, plan->dstSlot);
  } else {
    std::memcpy(target.data(), plan->dstSlot.of(ncb0, ncb1).data(), kNcbBlockSize);
  }
  targetSlot = plan->dstSlot;
  return true;
}

FlashUpdateStatus type1TransformToType2(HalvernNcb ncb0, HalvernNcb ncb1,
                                        VoFlashControlInterface& flashCtrl) {
  const std::optional<TransformPlan> plan = planTransform(ncb0, ncb1);
  if (!plan) {
    trace::emit(tp::kNoActiveNcb);
    return kStatusNoValidActiveNcb;
  }
  UsableRange usable;
  FlashUpdateStatus status = checkPlan(flashCtrl, ncb0, ncb1, *plan, usable);
  if (status != kStatusSuccess) {
    trace::emit(tp::kRequirementsFailed, status);
    return status;
  }
  traceNcb(ncb0, kNcb0Address);
  traceNcb(ncb1, kNcb1Address);

  const HalvernNcb src = plan->srcSlot.of(ncb0, ncb1);
  const HalvernNcb dst = plan->dstSlot.of(ncb0, ncb1);
  const uint32_t srcAddress = plan->srcSlot.address();
  const uint32_t dstAddress = plan->dstSlot.address();

  switch (plan->preparation) {
    case Preparation::kNone:
      break;
    case Preparation::kCopyInMemory:
      copyToSlot(src, dst, plan->dstSlot);
      dst.setState(NcbState::kDeactivated);
      break;
    case Preparation::kDuplicateOnFlash: {
      // The active block stands in DST's slot: a copy of it in the other slot keeps a valid
      // active block on the flash while DST's slot is rewritten.
      copyToSlot(dst, src, plan->srcSlot);
      bool cleared = false;
      for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        status = writeActivatingNcb(flashCtrl, src, srcAddress, cleared);
        if (status == kStatusSuccess || !cleared) break;
        trace::emit(tp::kDuplicateFailed, static_cast<uint32_t>(attempt), status);
      }
      if (status != kStatusSuccess) {
        trace::emit(tp::kDuplicateNotWritten, srcAddress, status);
        return status;
      }
      break;
    }
  }

  return handOverActiveBlock(
      flashCtrl, {.newNcb = dst,
                  .newAddress = dstAddress,
                  .oldNcb = src,
                  .oldAddress = srcAddress,
                  .roomStart = usable.start,
                  .roomLength = usable.length,
                  .fill =
                      [&](uint32_t& cursor, uint32_t erased) {
                        const uint32_t required = requiredBankSize(src, flashCtrl.pageSize);
                        if (required > erased) {
                          trace::emit(tp::kErasedTooLittle, erased, required);
                          return FillOutcome{kStatusFreeAreaTooSmall, true};
                        }
                        return FillOutcome{copyAllFW(flashCtrl, src, dst, cursor)};
                      },
                  // The source is deactivated with a CRC that no longer matches, so that the block
                  // it was can never be taken again.
                  .old = OldBlock::kSpoiled,
                  .points = {tp::kAttemptFailed, tp::kTargetNotCleared, tp::kRelocationFailed,
                             tp::kDeactivateFailed, tp::kDone}});
}

}  // namespace hlv
