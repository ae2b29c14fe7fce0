#include "engine/rollback.h"

#include <algorithm>
#include <span>

#include "engine/block_roles.h"
#include "engine/byte_buffer.h"
#include "engine/firmware_version.h"
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

// The two blocks as the flash holds them, and which of them readers take.
struct RollbackBlocks {
  ByteBuffer buffer;  // NCB0 then NCB1
  HalvernNcb current{nullptr};
  HalvernNcb previous{nullptr};
  NcbSlot currentSlot = NcbSlot::ncb0();
  NcbSlot previousSlot = NcbSlot::ncb1();

  // The block readers take of the two as the buffer holds them now (the current one is active).
  NcbSlot readersTake() const {
    return chooseBlocks(HalvernNcb(buffer.data()), HalvernNcb(buffer.data() + kNcbBlockSize))
        ->activeSlot;
  }
};

// Reads both blocks and checks the current one: the part of every rollback that only reads. With
// `backup`, the current block is the one readers took in the backup, not on the flash: a rollback
// cut while it erased NCB0's first sector may leave NCB0's state bits reading active (an erase cut
// short at bit level raises some of the bits of 0b00 and not others), over a sector that is no
// longer whole, while the flash's current block is still NCB1.
FlashUpdateStatus readRollbackBlocks(VoFlashControlInterface& flashCtrl, RollbackBlocks& blocks,
                                     std::span<const uint8_t> backup = {}) {
  blocks.buffer = ByteBuffer::allocate(2 * kNcbBlockSize);
  if (!blocks.buffer.ok()) {
    trace::emit(tp::kNoMemory, 2 * kNcbBlockSize);
    return kStatusFlashReadFailed;
  }
  if (!flashCtrl.init()) {
    trace::emit(tp::kInitFailed);
    return kStatusFlashReadFailed;
  }
  const HalvernNcb ncb0(blocks.buffer.data());
  const HalvernNcb ncb1(blocks.buffer.data() + kNcbBlockSize);
  FlashUpdateStatus status = readNcbs(flashCtrl, ncb0, ncb1);
  if (status != kStatusSuccess) {
    trace::emit(tp::kReadFailed, status);
    return status;
  }

  // The current block is the one readers take, the previous one the other.
  const std::optional<BlockRoles<HalvernNcb>> roles = chooseBlocks(ncb0, ncb1);
  if (!roles) {
    trace::emit(tp::kNoActiveNcb);
    return kStatusImageInvalid;
  }
  // The current block is the one readers take: NCB0 when both are active.
  NcbSlot current = roles->activeSlot;
  if (backup.size() >= kNcb1Address + kNcbBlockSize) {
    const NcbSlot backupCurrent =
        ConstHalvernNcb(backup.data()).active() ? NcbSlot::ncb0() : NcbSlot::ncb1();
    trace::emit(tp::kBackupCurrentTaken, backupCurrent.address(), ncb0.active());
    // Only the state bits of NCB0 may have come to read active: where readers took NCB0 in the
    // backup and take NCB1 on the flash, the backup is of another flash.
    if (backupCurrent == NcbSlot::ncb0() && current == NcbSlot::ncb1()) {
      trace::emit(tp::kBackupCurrentDiffers, kNcb0Address);
      return kStatusBackupMismatch;
    }
    current = backupCurrent;
  }
  blocks.current = current.of(ncb0, ncb1);
  blocks.previous = current.other().of(ncb0, ncb1);
  blocks.currentSlot = current;
  blocks.previousSlot = current.other();
  status = validateNcb(blocks.current, false);
  if (status != kStatusSuccess) {
    trace::emit(tp::kCurrentInvalid, blocks.currentSlot.address(), status);
    return kStatusImageInvalid;
  }
  return kStatusSuccess;
}

// A part without an erase sector would be erased with no command at all, and one smaller than
// the layout does not hold what the blocks describe.
FlashUpdateStatus checkPart(const VoFlashControlInterface& flashCtrl) {
  if (!partSuitsRollback(flashCtrl)) {
    trace::emit(tp::kPartUnsuitable, flashCtrl.sectorSize, flashCtrl.flashSize);
    return kStatusNcbBuildFailed;
  }
  return kStatusSuccess;
}

// The previous block and the firmware it describes on the flash may be activated.
FlashUpdateStatus checkRollbackTarget(VoFlashControlInterface& flashCtrl,
                                      const RollbackBlocks& blocks) {
  const FlashUpdateStatus status = checkPreviousBlock(blocks.previous);
  if (status != kStatusSuccess) return status;
  return checkComponents(flashCtrl, blocks.previous, blocks.previousSlot.isNcb1());
}

// Activates the previous block, then deactivates the current one; only the first erase sector of
// each is rewritten, the rest of each block already holds the bytes in the buffer.
FlashUpdateStatus switchToPrevious(VoFlashControlInterface& flashCtrl,
                                   const RollbackBlocks& blocks) {
  // The state bits lie outside the CRC range: neither CRC changes.
  blocks.previous.setState(NcbState::kActive);
  blocks.current.setState(NcbState::kDeactivated);
  const uint32_t sector = flashCtrl.sectorSize;
  trace::emit(tp::kActivating, blocks.previousSlot.address(), sector);
  bool cleared = false;
  FlashUpdateStatus status = writeActivatingNcbStart(
      flashCtrl, blocks.previous, blocks.previousSlot.address(), sector, cleared);
  if (status != kStatusSuccess) {
    trace::emit(tp::kActivationFailed, blocks.previousSlot.address(), status, cleared);
    return status;
  }
  // Both blocks are active now; readers take NCB0.
  trace::emit(tp::kDeactivating, blocks.currentSlot.address());
  status = writeNcbStart(flashCtrl, blocks.current, blocks.currentSlot.address(), sector);
  if (status != kStatusSuccess) {
    trace::emit(tp::kDeactivationFailed, blocks.currentSlot.address(), status);
    return status;
  }
  trace::emit(tp::kDone, blocks.previousSlot.address());
  return kStatusSuccess;
}

// Whether the previous block's first sector on the flash is what a rollback of the backup may
// leave of it while it rewrites it: every bit either erased or as the backup holds it. The
// rollback erases the sector (an erase cut short leaves bytes erased or as they were) and
// programs it again with the backup's bytes (a program cut short clears only some of the bits
// it clears). The two state bits are set aside: the rollback itself clears them (when the block
// was active), erases them and sets them active.
bool sectorLeftByRollback(std::span<const uint8_t> flash, std::span<const uint8_t> backup,
                          uint32_t& firstBadByte) {
  constexpr uint8_t kStateBits = 0xC0;
  for (uint32_t i = 0; i < flash.size(); ++i) {
    const uint8_t ignored = i == ncb_field::kStateByte ? kStateBits : 0;
    // A bit the flash holds programmed (0) where the backup's is erased (1) was written by
    // something other than the rollback.
    if ((static_cast<uint8_t>(~flash[i]) & backup[i] & static_cast<uint8_t>(~ignored)) != 0) {
      firstBadByte = i;
      return false;
    }
  }
  return true;
}

// A rollback cut short while it rewrote the previous block's first sector leaves that sector
// erased or partly programmed: the firmware it described is still in its bank, but only the
// backup the rollback saved first still holds the sector. The backup may restore it when the
// flash is what a rollback of the backup's flash leaves (the same bytes but for that sector,
// whose bits are erased or the backup's), and the block it restores describes firmware the flash
// still holds intact. `blocks` then holds the flash's current block and the backup's previous
// one.
FlashUpdateStatus checkBackupAgainstFlash(VoFlashControlInterface& flashCtrl,
                                          std::span<const uint8_t> backup, RollbackBlocks& blocks) {
  trace::emit(tp::kBackupCheck, static_cast<uint64_t>(backup.size()));
  FlashUpdateStatus status = readRollbackBlocks(flashCtrl, blocks, backup);
  if (status != kStatusSuccess) return status;
  status = checkPart(flashCtrl);
  if (status != kStatusSuccess) return status;
  if (backup.size() != flashCtrl.flashSize) {
    trace::emit(tp::kBackupWrongSize, static_cast<uint64_t>(backup.size()), flashCtrl.flashSize);
    return kStatusBackupMismatch;
  }
  // Where the flash still holds a rollback target, the ordinary rollback takes it; a backup
  // never overrides a block the flash keeps.
  if (checkRollbackTarget(flashCtrl, blocks) == kStatusSuccess) {
    trace::emit(tp::kBackupNotNeeded, blocks.previousSlot.address());
    return kStatusBackupMismatch;
  }
  // The layout fits the part, so both blocks lie inside the backup.
  const std::span<const uint8_t> backupCurrent =
      backup.subspan(blocks.currentSlot.address(), kNcbBlockSize);
  const std::span<const uint8_t> backupPrevious =
      backup.subspan(blocks.previousSlot.address(), kNcbBlockSize);
  const std::span<uint8_t> flashCurrent(blocks.current.data(), kNcbBlockSize);
  const std::span<uint8_t> flashPrevious(blocks.previous.data(), kNcbBlockSize);
  if (!std::ranges::equal(backupCurrent, flashCurrent)) {
    trace::emit(tp::kBackupCurrentDiffers, blocks.currentSlot.address());
    return kStatusBackupMismatch;
  }
  const uint32_t sector = flashCtrl.sectorSize;
  if (!std::ranges::equal(backupPrevious.subspan(sector), flashPrevious.subspan(sector))) {
    trace::emit(tp::kBackupPreviousDiffers, blocks.previousSlot.address(), sector);
    return kStatusBackupMismatch;
  }
  uint32_t badByte = 0;
  if (!sectorLeftByRollback(flashPrevious.first(sector), backupPrevious.first(sector), badByte)) {
    trace::emit(tp::kBackupSectorNotLeftByRollback, blocks.previousSlot.address() + badByte,
                flashPrevious[badByte], backupPrevious[badByte]);
    return kStatusBackupMismatch;
  }
  std::ranges::copy(backupPrevious.first(sector), flashPrevious.begin());
  // In the backup, readers took the same current block: its previous block may have been active
  // only where readers prefer the current one (NCB0), as a rollback cut before it deactivated
  // the current block leaves it.
  if (blocks.readersTake() != blocks.currentSlot) {
    trace::emit(tp::kBackupPreviousActive, blocks.previousSlot.address());
    return kStatusBackupMismatch;
  }
  status = checkRollbackTarget(flashCtrl, blocks);
  if (status != kStatusSuccess) {
    trace::emit(tp::kBackupPreviousRefused, blocks.previousSlot.address(), status);
    return status;
  }
  trace::emit(tp::kBackupAccepted, blocks.previousSlot.address());
  return kStatusSuccess;
}

// The blocks of a rollback of the flash as it is (no backup) or of a rollback cut short that the
// backup finishes, checked as that rollback checks them; nothing is written.
FlashUpdateStatus checkRollback(VoFlashControlInterface& flashCtrl, std::span<const uint8_t> backup,
                                RollbackBlocks& blocks) {
  if (!backup.empty()) return checkBackupAgainstFlash(flashCtrl, backup, blocks);
  FlashUpdateStatus status = readRollbackBlocks(flashCtrl, blocks);
  if (status != kStatusSuccess) return status;
  status = checkPreviousBlock(blocks.previous);
  if (status != kStatusSuccess) return status;
  status = checkPart(flashCtrl);
  if (status != kStatusSuccess) return status;
  return checkComponents(flashCtrl, blocks.previous, blocks.previousSlot.isNcb1());
}

}  // namespace

FlashUpdateStatus rollbackToPreviousImage(VoFlashControlInterface& flashCtrl) {
  trace::emit(tp::kStart);
  RollbackBlocks blocks;
  const FlashUpdateStatus status = checkRollback(flashCtrl, {}, blocks);
  if (status != kStatusSuccess) return status;
  return switchToPrevious(flashCtrl, blocks);
}

FlashUpdateStatus planRollback(VoFlashControlInterface& flashCtrl, std::span<const uint8_t> backup,
                               RollbackPlan& plan) {
  trace::emit(tp::kPlan, static_cast<uint64_t>(backup.size()));
  RollbackBlocks blocks;
  FlashUpdateStatus status = checkRollback(flashCtrl, backup, blocks);
  if (status != kStatusSuccess) return status;
  RollbackPlan planned;
  planned.flashId = flashCtrl.flashId;
  planned.flashSize = flashCtrl.flashSize;
  planned.sectorSize = flashCtrl.sectorSize;
  planned.activateAddress = blocks.previousSlot.address();
  planned.deactivateAddress = blocks.currentSlot.address();
  status = readFirmwareVersion(flashCtrl, blocks.current, planned.current);
  if (status == kStatusSuccess)
    status = readFirmwareVersion(flashCtrl, blocks.previous, planned.previous);
  if (status != kStatusSuccess) {
    trace::emit(tp::kPlanVersionUnreadable, status);
    return status;
  }
  trace::emit(tp::kPlanned, planned.activateAddress, planned.deactivateAddress);
  plan = planned;
  return kStatusSuccess;
}

FlashUpdateStatus rollbackFromBackup(VoFlashControlInterface& flashCtrl,
                                     std::span<const uint8_t> backup) {
  trace::emit(tp::kStartFromBackup);
  RollbackBlocks blocks;
  // An empty backup would be the ordinary rollback's; it never fits a flash.
  if (backup.empty()) {
    trace::emit(tp::kBackupWrongSize, uint64_t{0}, flashCtrl.flashSize);
    return kStatusBackupMismatch;
  }
  const FlashUpdateStatus status = checkBackupAgainstFlash(flashCtrl, backup, blocks);
  if (status != kStatusSuccess) return status;
  return switchToPrevious(flashCtrl, blocks);
}

}  // namespace hlv
