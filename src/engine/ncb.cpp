#include "engine/ncb.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/byte_buffer.h"
#include "engine/flash_access.h"
#include "engine/ncb_trace.h"
#include "platform/hlv_assert.h"

namespace hlv {
namespace tp = trace_points::ncb;

namespace {

bool inAreaWindow(uint32_t value) {
  return value == 0 || (value >= kNcbFirstAreaByte && value <= kNcbBlockSize);
}

bool inFlashWindow(uint32_t value) {
  return value == 0 || (value >= kFirstComponentAddress && value <= kFlashLayoutSize);
}

bool regionInWindow(NcbRegion region) {
  return inFlashWindow(region.offset) && inFlashWindow(region.end());
}

// Offset of the first differing byte, or none.
std::optional<uint32_t> firstDifference(const uint8_t* a, const uint8_t* b, uint32_t length) {
  const auto [left, right] = std::mismatch(a, a + length, b);
  if (left == a + length) return std::nullopt;
  return static_cast<uint32_t>(left - a);
}

}  // namespace

bool checkNcbCrc(ConstHalvernNcb ncb) {
  const std::optional<uint16_t> computed = computeNcbCrc(ncb);
  if (!computed) {
    trace::emit(tp::kCrcRangeInvalid, ncb.size());
    return false;
  }
  if (*computed != ncb.crc()) {
    trace::emit(tp::kCrcMismatch, *computed, ncb.crc());
    return false;
  }
  return true;
}

bool checkNcbStructure(ConstHalvernNcb ncb) {
  if (ncb.size() > kNcbBlockSize) {
    trace::emit(tp::kStructureSizeInvalid, ncb.size());
    return false;
  }
  for (NcbArea area : kAllNcbAreas) {
    const uint32_t offset = ncb.areaOffsetInBlock(area);
    const uint32_t end = offset + ncb.area(area).length;
    if (!inAreaWindow(offset) || !inAreaWindow(end)) {
      trace::emit(tp::kStructureAreaInvalid, static_cast<uint8_t>(area), ncb.area(area).offset,
                  ncb.area(area).length);
      return false;
    }
  }
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb.component(component);
    if (!regionInWindow(region)) {
      trace::emit(tp::kStructureRegionInvalid, static_cast<uint8_t>(component), region.offset,
                  region.size);
      return false;
    }
  }
  if (!regionInWindow(ncb.freeArea())) {
    trace::emit(tp::kStructureRegionInvalid, static_cast<uint8_t>(kAllNcbComponents.size()),
                ncb.freeOffset(), ncb.freeSize());
    return false;
  }
  return true;
}

FlashUpdateStatus validateNcb(ConstHalvernNcb ncb, bool force) {
  trace::emit(tp::kValidate, static_cast<uint8_t>(ncb.state()), force);
  if (ncb.active() || force) {
    if (ncb.freeOffset() == kNcbUnprogrammed24) {
      trace::emit(tp::kValidateUnprogrammedFree);
      return kStatusNcbNotUsable;
    }
    if (!checkNcbCrc(ncb)) {
      trace::emit(tp::kValidateCrcFailed);
      return kStatusNcbInvalid;
    }
    if (!checkNcbStructure(ncb)) {
      trace::emit(tp::kValidateStructureFailed);
      return kStatusNcbInvalid;
    }
  }
  if (ncb.magicWord() == kNcbMagic) {
    trace::emit(tp::kValidateMagic);
    return kStatusNcbNotUsable;
  }
  return kStatusSuccess;
}

FlashUpdateStatus readNcbs(VoFlashControlInterface& flashCtrl, HalvernNcb buffer0,
                           HalvernNcb buffer1) {
  FlashUpdateStatus status = readFlash(flashCtrl, kNcb0Address, buffer0.data(), kNcbBlockSize);
  if (status == kStatusSuccess)
    status = readFlash(flashCtrl, kNcb1Address, buffer1.data(), kNcbBlockSize);
  if (status != kStatusSuccess) return status;
  traceNcb(buffer0, kNcb0Address);
  traceNcb(buffer1, kNcb1Address);
  return kStatusSuccess;
}

std::optional<BlockRoles<HalvernNcb>> readBlockRoles(VoFlashControlInterface& flashCtrl,
                                                     HalvernNcb buffer0, HalvernNcb buffer1) {
  trace::emit(tp::kReadActive);
  FlashUpdateStatus status = readNcbs(flashCtrl, buffer0, buffer1);
  if (status != kStatusSuccess) {
    trace::emit(tp::kReadActiveFailed, status);
    return std::nullopt;
  }

  // NCB0 wins when both are active, even when it then fails validation: a reader on the
  // adapter takes the same block.
  const std::optional<BlockRoles<HalvernNcb>> roles = chooseBlocks(buffer0, buffer1);
  if (!roles) {
    trace::emit(tp::kNoActiveNcb);
    return std::nullopt;
  }
  const uint32_t address = roles->activeSlot.address();
  status = validateNcb(roles->active, false);
  if (status != kStatusSuccess) {
    trace::emit(tp::kActiveNcbInvalid, address, status);
    return std::nullopt;
  }
  trace::emit(tp::kActiveNcbTaken, address);
  return roles;
}

std::optional<HalvernNcb> readActiveNcb(VoFlashControlInterface& flashCtrl, HalvernNcb buffer0,
                                        HalvernNcb buffer1) {
  const std::optional<BlockRoles<HalvernNcb>> roles = readBlockRoles(flashCtrl, buffer0, buffer1);
  if (!roles) return std::nullopt;
  return roles->active;
}

std::optional<ConstHalvernNcb> findActiveImageNcb(ConstHalvernNcb ncb0, ConstHalvernNcb ncb1) {
  uint8_t index = 0;
  for (ConstHalvernNcb ncb : {ncb0, ncb1}) {
    if (ncb.active()) {
      if (checkNcbCrc(ncb)) {
        trace::emit(tp::kImageNcbTaken, index);
        return ncb;
      }
      trace::emit(tp::kImageNcbCrcFailed, index, ncb.macCrc());
    }
    ++index;
  }
  trace::emit(tp::kImageNoActiveNcb);
  return std::nullopt;
}

std::optional<ConstHalvernNcb> findActiveImageNcb(std::span<const uint8_t> image) {
  const auto ncb0 = ConstHalvernNcb::inBuffer(image, kNcb0Address);
  const auto ncb1 = ConstHalvernNcb::inBuffer(image, kNcb1Address);
  if (!ncb0 || !ncb1) {
    trace::emit(tp::kImageNoActiveNcb);
    return std::nullopt;
  }
  return findActiveImageNcb(*ncb0, *ncb1);
}

FlashUpdateStatus writeNcb(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                           uint32_t ncbAddress) {
  return writeNcbStart(flashCtrl, ncb, ncbAddress, kNcbBlockSize);
}

namespace {

constexpr uint8_t kStateBits = 0xC0;

bool activeStateByte(uint8_t stateByte) {
  const auto state = static_cast<NcbState>(stateByte >> 6);
  return state == NcbState::kActive || state == NcbState::kActiveAlternate;
}

// Programs `length` bytes and reads them back into `readBack`; kStatusFlashWriteFailed when
// they differ. `first` is the block offset of the bytes, for the trace.
FlashUpdateStatus programAndVerify(VoFlashControlInterface& flashCtrl, uint32_t address,
                                   const uint8_t* bytes, uint8_t* readBack, uint32_t length,
                                   uint32_t first) {
  FlashUpdateStatus status = writeFlash(flashCtrl, address, bytes, length);
  if (status != kStatusSuccess) {
    trace::emit(first < kNcbCrcStart ? tp::kWriteNcbHeadFailed : tp::kWriteNcbBodyFailed, status);
    return status;
  }
  status = readFlash(flashCtrl, address, readBack, length);
  if (status != kStatusSuccess) {
    trace::emit(tp::kWriteNcbReadBackFailed, status);
    return status;
  }
  if (const auto at = firstDifference(bytes, readBack, length)) {
    if (first < kNcbCrcStart) {
      trace::emit(tp::kWriteNcbHeadDiffers);
    } else {
      trace::emit(tp::kWriteNcbBodyDiffers, *at + first);
    }
    return kStatusFlashWriteFailed;
  }
  return kStatusSuccess;
}

// The first four bytes, none of them covered by the block's CRC: the imageTag first (with the
// state bits still erased), then the CRC, then the state byte alone. A program cut short leaves
// bits of what it was writing erased, so a cut in the tag's program leaves the CRC erased, and
// one in the CRC's leaves it wrong: either way the block fails its CRC and is never taken for a
// whole one with a tag half written. A cut in the state's program leaves the block not active
// or active over a whole head.
FlashUpdateStatus writeHead(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                            uint32_t ncbAddress, uint8_t* readBack) {
  std::array<uint8_t, kNcbCrcStart> head;
  std::copy_n(ncb.data(), head.size(), head.begin());
  head[ncb_field::kStateByte] |= kStateBits;
  constexpr uint32_t kTag = ncb_field::kImageTagLow;
  constexpr uint32_t kTagBytes = kNcbCrcStart - kTag;  // the low byte and the state byte
  FlashUpdateStatus status = programAndVerify(flashCtrl, ncbAddress + kTag, head.data() + kTag,
                                              readBack + kTag, kTagBytes, kTag);
  if (status != kStatusSuccess) return status;
  status = programAndVerify(flashCtrl, ncbAddress + ncb_field::kCrc, head.data() + ncb_field::kCrc,
                            readBack + ncb_field::kCrc, kTag - ncb_field::kCrc, ncb_field::kCrc);
  if (status != kStatusSuccess || head[ncb_field::kStateByte] == ncb.data()[ncb_field::kStateByte])
    return status;
  return programAndVerify(flashCtrl, ncbAddress + ncb_field::kStateByte,
                          ncb.data() + ncb_field::kStateByte, readBack + ncb_field::kStateByte, 1,
                          ncb_field::kStateByte);
}

// Every byte of `wanted` can be reached from `current` by clearing bits.
bool reachableByProgramming(const uint8_t* current, const uint8_t* wanted, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if ((current[i] & wanted[i]) != wanted[i]) return false;
  }
  return true;
}

// A whole block on the flash that is to be deactivated (or retired) with bits cleared only: the
// state byte first, so that the block is no longer taken before anything else changes, then the
// run of other bytes that differ.
FlashUpdateStatus rewriteInPlace(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                 uint32_t ncbAddress, uint8_t* current, uint32_t length) {
  constexpr uint32_t kState = ncb_field::kStateByte;
  FlashUpdateStatus status = kStatusSuccess;
  if (current[kState] != ncb.data()[kState]) {
    status = programAndVerify(flashCtrl, ncbAddress + kState, ncb.data() + kState, current + kState,
                              1, kState);
    if (status != kStatusSuccess) return status;
  }
  uint32_t first = length;
  uint32_t last = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (current[i] != ncb.data()[i]) {
      first = std::min(first, i);
      last = i;
    }
  }
  if (first < length) {
    trace::emit(tp::kWriteNcbInPlace, ncbAddress, first, last);
    // Bytes in the run that do not change are programmed with what they hold: no bit moves.
    status = programAndVerify(flashCtrl, ncbAddress + first, ncb.data() + first, current + first,
                              last - first + 1, first);
    if (status != kStatusSuccess) return status;
  }
  trace::emit(tp::kWriteNcbDone, ncbAddress);
  return kStatusSuccess;
}

}  // namespace

FlashUpdateStatus clearNcbStateInPlace(VoFlashControlInterface& flashCtrl, uint32_t ncbAddress) {
  HLV_ASSERT(ncbAddress == kNcb0Address || ncbAddress == kNcb1Address);
  const uint32_t address = ncbAddress + ncb_field::kStateByte;
  uint8_t stateByte = 0;
  FlashUpdateStatus status = readFlash(flashCtrl, address, &stateByte, 1);
  if (status == kStatusSuccess && activeStateByte(stateByte)) {
    const uint8_t cleared = static_cast<uint8_t>(stateByte & ~kStateBits);
    status = programAndVerify(flashCtrl, address, &cleared, &stateByte, 1, ncb_field::kStateByte);
    if (status == kStatusSuccess) trace::emit(tp::kStateCleared, ncbAddress);
  }
  if (status != kStatusSuccess) trace::emit(tp::kStateClearFailed, ncbAddress, status);
  return status;
}

FlashUpdateStatus writeNcbStart(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                uint32_t ncbAddress, uint32_t length) {
  HLV_ASSERT(ncbAddress == kNcb0Address || ncbAddress == kNcb1Address);
  trace::emit(tp::kWriteNcb, ncbAddress, static_cast<uint8_t>(ncb.state()), ncb.crc(), ncb.size(),
              length);
  if (!partHoldsLayout(flashCtrl) || length > kNcbBlockSize || length <= kNcbCrcStart ||
      length % flashCtrl.sectorSize != 0) {
    trace::emit(tp::kWriteNcbSectorUnsuitable, flashCtrl.sectorSize, flashCtrl.flashSize);
    return kStatusSectorSizeUnsuitable;
  }
  // Taken before the block is touched, so that a shortage leaves the flash as it was.
  const ByteBuffer readBack = ByteBuffer::allocate(length);
  if (!readBack.ok()) {
    trace::emit(tp::kWriteNcbNoMemory);
    return kStatusOutOfMemory;
  }
  FlashUpdateStatus status = readFlash(flashCtrl, ncbAddress, readBack.data(), length);
  if (status != kStatusSuccess) {
    trace::emit(tp::kWriteNcbReadBackFailed, status);
    return status;
  }
  const uint8_t stateOnFlash = readBack.data()[ncb_field::kStateByte];
  const bool wholeBlockOnFlash = (stateOnFlash & kStateBits) != kStateBits;
  if (!ncb.active() && wholeBlockOnFlash &&
      reachableByProgramming(readBack.data(), ncb.data(), length)) {
    return rewriteInPlace(flashCtrl, ncb, ncbAddress, readBack.data(), length);
  }
  if (activeStateByte(stateOnFlash)) {
    status = clearNcbStateInPlace(flashCtrl, ncbAddress);
    if (status != kStatusSuccess) return status;
  }

  uint32_t erasedFrom = 0;
  uint32_t erasedBytes = 0;
  status = eraseRange(flashCtrl, ncbAddress, length, erasedFrom, erasedBytes);
  if (status != kStatusSuccess || erasedFrom != ncbAddress || erasedBytes != length) {
    trace::emit(tp::kWriteNcbEraseFailed, status, erasedFrom, erasedBytes);
    return kStatusFlashEraseFailed;
  }

  // The body first: while the state bits stay erased the block reads as not active, whatever
  // happens to the body.
  constexpr uint32_t kBody = kNcbCrcStart;
  status = programAndVerify(flashCtrl, ncbAddress + kBody, ncb.data() + kBody,
                            readBack.data() + kBody, length - kBody, kBody);
  if (status != kStatusSuccess) return status;
  status = writeHead(flashCtrl, ncb, ncbAddress, readBack.data());
  if (status != kStatusSuccess) return status;
  trace::emit(tp::kWriteNcbDone, ncbAddress);
  return kStatusSuccess;
}

void traceNcb(ConstHalvernNcb ncb, uint32_t address) {
  trace::emit(tp::kDumpState, address, static_cast<uint8_t>(ncb.state()), ncb.size(), ncb.crc());
  for (NcbArea area : kAllNcbAreas) {
    trace::emit(tp::kDumpArea, address, static_cast<uint8_t>(area), ncb.area(area).offset,
                ncb.area(area).length);
  }
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb.component(component);
    trace::emit(tp::kDumpComponent, address, static_cast<uint8_t>(component), region.offset,
                region.size);
  }
  trace::emit(tp::kDumpComponentCrcs, address, ncb.macCrc(), ncb.phyCrc(), ncb.romCrc());
  trace::emit(tp::kDumpImage, address, ncb.imageTag(), ncb.imageVersion());
  trace::emit(tp::kDumpFreeArea, address, ncb.freeOffset(), ncb.freeSize());
}

}  // namespace hlv
