#include "engine/rollback.h"

#include <span>

#include "engine/byte_buffer.h"
#include "engine/flash_access.h"
#include "engine/ncb.h"
#include "engine/ncb_activation.h"
#include "engine/ncb_layout.h"
#include "engine/rollback_trace.h"
#include "shared/crc16.h"

namespace hlv {
namespace tp = trace_points::rollback;

namespace {

// The part can take the rollback: it holds the layout and its erase sector is a unit the first
// part of a block can be rewritten in.
bool partSuitsRollback(const VoFlashControlInterface& flashCtrl) {
  return partHoldsLayout(flashCtrl) && flashCtrl.sectorSize <= kNcbBlockSize;
}

// Every component of the block lies in the block's own bank and matches its CRC on the flash.
// An update interrupted before its new block was written leaves that bank erased or half
// written; the block describing it must not be activated.
FlashUpdateStatus checkComponents(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                  bool isNcb1) {
  if (!componentsInOwnBank(ncb, isNcb1)) {
    trace::emit(tp::kComponentOutsideBank);
    return kStatusNcbInvalid;
  }
  for (const NcbCrcCoverage& coverage : ncbCrcCoverage(ncb)) {
    uint16_t computed = 0;
    const NcbComponent parts[] = {coverage.first, coverage.second};
    for (NcbComponent part : std::span(parts).first(coverage.twoParts() ? 2 : 1)) {
      const NcbRegion region = ncb.component(part);
      const ByteBuffer bytes = ByteBuffer::allocate(region.size);
      if (!bytes.ok()) {
        trace::emit(tp::kNoMemory, region.size);
        return kStatusFlashReadFailed;
      }
      const FlashUpdateStatus status =
          readFlash(flashCtrl, region.offset, bytes.data(), region.size);
      if (status != kStatusSuccess) {
        trace::emit(tp::kComponentReadFailed, static_cast<uint8_t>(part), status);
        return status;
      }
      computed = crc16(bytes.span(), computed);
    }
    if (computed != coverage.recorded) {
      trace::emit(tp::kComponentCrcMismatch, static_cast<uint8_t>(coverage.first), computed,
                  coverage.recorded);
      return kStatusNcbInvalid;
    }
  }
  return kStatusSuccess;
}

// The previous block itself may be activated: it holds a complete earlier firmware.
FlashUpdateStatus checkPreviousBlock(ConstHalvernNcb previous) {
  if (!checkNcbCrc(previous) || !checkNcbStructure(previous)) {
    trace::emit(tp::kPreviousDamaged);
    return kStatusNcbInvalid;
  }
  // A block marked unusable would be active but refused by every reader of the tool, which
  // could then neither read the adapter's version nor update it again.
  if (previous.magicWord() == kNcbMagic) {
    trace::emit(tp::kPreviousMarkedUnusable);
    return kStatusNcbNotUsable;
  }
  if (previous.freeSize() != 0) {
    trace::emit(tp::kPreviousHasFreeArea, previous.freeOffset(), previous.freeSize());
    return kStatusRollbackImpossible;
  }
  return kStatusSuccess;
}

}  // namespace

FlashUpdateStatus rollbackToPreviousImage(VoFlashControlInterface& flashCtrl) {
  trace::emit(tp::kStart);
  const ByteBuffer ncbs = ByteBuffer::allocate(2 * kNcbBlockSize);
  if (!ncbs.ok()) {
    trace::emit(tp::kNoMemory, 2 * kNcbBlockSize);
    return kStatusFlashReadFailed;
  }
  if (!flashCtrl.init()) {
    trace::emit(tp::kInitFailed);
    return kStatusFlashReadFailed;
  }
  const HalvernNcb ncb0(ncbs.data());
  const HalvernNcb ncb1(ncbs.data() + kNcbBlockSize);
  FlashUpdateStatus status = readNcbs(flashCtrl, ncb0, ncb1);
  if (status != kStatusSuccess) {
    trace::emit(tp::kReadFailed, status);
    return status;
  }

  if (!ncb0.active() && !ncb1.active()) {
    trace::emit(tp::kNoActiveNcb);
    return kStatusImageInvalid;
  }
  // The current block is the one readers take: NCB0 when both are active.
  const bool currentIsNcb1 = !ncb0.active();
  const HalvernNcb current = currentIsNcb1 ? ncb1 : ncb0;
  const HalvernNcb previous = currentIsNcb1 ? ncb0 : ncb1;
  const uint32_t currentAddress = currentIsNcb1 ? kNcb1Address : kNcb0Address;
  const uint32_t previousAddress = currentIsNcb1 ? kNcb0Address : kNcb1Address;
  status = validateNcb(current, false);
  if (status != kStatusSuccess) {
    trace::emit(tp::kCurrentInvalid, currentAddress, status);
    return kStatusImageInvalid;
  }
  status = checkPreviousBlock(previous);
  if (status != kStatusSuccess) return status;
  // A part without an erase sector would be erased with no command at all, and one smaller than
  // the layout does not hold what the blocks describe.
  if (!partSuitsRollback(flashCtrl)) {
    trace::emit(tp::kPartUnsuitable, flashCtrl.sectorSize, flashCtrl.flashSize);
    return kStatusNcbBuildFailed;
  }
  status = checkComponents(flashCtrl, previous, !currentIsNcb1);
  if (status != kStatusSuccess) return status;

  // The state bits lie outside the CRC range: neither CRC changes.
  previous.setState(NcbState::kActive);
  current.setState(NcbState::kDeactivated);
  const uint32_t sector = flashCtrl.sectorSize;
  trace::emit(tp::kActivating, previousAddress, sector);
  bool cleared = false;
  status = writeActivatingNcbStart(flashCtrl, previous, previousAddress, sector, cleared);
  if (status != kStatusSuccess) {
    trace::emit(tp::kActivationFailed, previousAddress, status, cleared);
    return status;
  }
  // Both blocks are active now; readers take NCB0.
  trace::emit(tp::kDeactivating, currentAddress);
  status = writeNcbStart(flashCtrl, current, currentAddress, sector);
  if (status != kStatusSuccess) {
    trace::emit(tp::kDeactivationFailed, currentAddress, status);
    return status;
  }
  trace::emit(tp::kDone, previousAddress);
  return kStatusSuccess;
}

}  // namespace hlv
