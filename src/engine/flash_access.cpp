#include "engine/flash_access.h"

#include "engine/flash_access_trace.h"
#include "engine/flash_layout.h"
#include "platform/hlv_assert.h"

namespace hlv {
namespace tp = trace_points::flash_access;

namespace {

constexpr int kReadAttempts = 2;

// The part answers for addresses below its size only; beyond it a real part wraps around to
// its start, where the control blocks live.
bool insidePart(const VoFlashControlInterface& flashCtrl, uint32_t address, uint32_t length) {
  return static_cast<uint64_t>(address) + length <= flashCtrl.flashSize;
}

}  // namespace

bool partHoldsLayout(const VoFlashControlInterface& flashCtrl) {
  return flashCtrl.sectorSize != 0 && flashCtrl.flashSize >= kFlashLayoutSize;
}

FlashUpdateStatus readFlash(VoFlashControlInterface& flashCtrl, uint32_t address, uint8_t* buffer,
                            uint32_t length) {
  HLV_ASSERT(buffer || length == 0);
  trace::emit(tp::kRead, length, address);
  if (!insidePart(flashCtrl, address, length)) {
    trace::emit(tp::kReadOutsidePart, length, address, flashCtrl.flashSize);
    return kStatusFlashReadFailed;
  }
  for (int attempt = 1; attempt <= kReadAttempts; ++attempt) {
    uint32_t done = 0;
    if (flashCtrl.read(address, buffer, length, done) && done == length) return kStatusSuccess;
    trace::emit(tp::kReadAttemptFailed, static_cast<uint32_t>(attempt), address, length, done);
  }
  trace::emit(tp::kReadFailed, length, address);
  return kStatusFlashReadFailed;
}

FlashUpdateStatus writeFlash(VoFlashControlInterface& flashCtrl, uint32_t address,
                             const uint8_t* buffer, uint32_t length) {
  HLV_ASSERT(buffer || length == 0);
  if (!insidePart(flashCtrl, address, length)) {
    trace::emit(tp::kWriteOutsidePart, length, address, flashCtrl.flashSize);
    return kStatusFlashWriteFailed;
  }
  uint32_t done = 0;
  if (flashCtrl.write(address, buffer, length, done) && done == length) {
    trace::emit(tp::kWriteDone, length, address);
    return kStatusSuccess;
  }
  trace::emit(tp::kWriteFailed, length, address, done);
  return kStatusFlashWriteFailed;
}

FlashUpdateStatus eraseRange(VoFlashControlInterface& flashCtrl, uint32_t start, uint32_t length,
                             uint32_t& alignedStart, uint32_t& erasedBytes) {
  alignedStart = start;
  erasedBytes = 0;
  const uint32_t sector = flashCtrl.sectorSize;
  const uint32_t block = flashCtrl.blockSize;
  trace::emit(tp::kEraseRange, start, length, sector, block);

  // Without an erase sector there is no unit to round to or to step by.
  if (!partHoldsLayout(flashCtrl)) {
    trace::emit(tp::kErasePartUnsuitable, sector, flashCtrl.flashSize);
    return kStatusFlashEraseFailed;
  }
  const uint64_t end64 = static_cast<uint64_t>(start) + length;
  // Sectors are erased whole, so the last one may reach past `end`.
  const uint64_t lastSectorEnd = (end64 + sector - 1) / sector * sector;
  if (lastSectorEnd > flashCtrl.flashSize) {
    trace::emit(tp::kEraseOutsidePart, lastSectorEnd, flashCtrl.flashSize);
    return kStatusFlashEraseFailed;
  }
  const uint32_t end = static_cast<uint32_t>(end64);
  alignedStart = alignUp(start, sector);
  const uint32_t sectorEnd = alignDown(end, sector);
  trace::emit(tp::kEraseAligned, alignedStart, sectorEnd);

  auto eraseSectors = [&](uint64_t from, uint64_t to) {
    for (uint64_t address = from; address < to; address += sector) {
      if (!flashCtrl.eraseSector(static_cast<uint32_t>(address))) {
        trace::emit(tp::kEraseSectorFailed, static_cast<uint32_t>(address));
        return false;
      }
      erasedBytes += sector;
    }
    return true;
  };

  if (flashCtrl.blockEraseSupported && block != 0 && block <= length) {
    const uint32_t blockStart = alignUp(start, block);
    const uint32_t blockEnd = alignDown(end, block);
    if (blockStart < blockEnd) {
      trace::emit(tp::kEraseBlocks, blockStart, blockEnd);
      for (uint64_t address = blockStart; address < blockEnd; address += block) {
        if (!flashCtrl.eraseBlock(static_cast<uint32_t>(address))) {
          trace::emit(tp::kEraseBlockFailed, static_cast<uint32_t>(address));
          return kStatusFlashEraseFailed;
        }
        erasedBytes += block;
      }
      if (!eraseSectors(alignedStart, blockStart) || !eraseSectors(blockEnd, sectorEnd))
        return kStatusFlashEraseFailed;
      trace::emit(tp::kEraseDone, erasedBytes);
      return kStatusSuccess;
    }
  }
  if (!eraseSectors(alignedStart, end)) return kStatusFlashEraseFailed;
  trace::emit(tp::kEraseDone, erasedBytes);
  return kStatusSuccess;
}

}  // namespace hlv
