#include "engine/flash_verify.h"

#include <algorithm>
#include <cstring>

#include "engine/byte_buffer.h"
#include "engine/flash_access.h"
#include "engine/flash_verify_trace.h"

namespace hlv {
namespace tp = trace_points::flash_verify;

namespace {
// Read in pieces, so that a large component needs no second copy of itself in memory.
constexpr uint32_t kVerifyChunk = 0x4000;
}  // namespace

FlashUpdateStatus verifyFlash(VoFlashControlInterface& flashCtrl, uint32_t address,
                              std::span<const uint8_t> expected) {
  const auto length = static_cast<uint32_t>(expected.size());
  trace::emit(tp::kVerify, address, length);
  if (length == 0) return kStatusSuccess;
  const ByteBuffer chunk = ByteBuffer::allocate(std::min(length, kVerifyChunk));
  if (!chunk.ok()) {
    trace::emit(tp::kNoMemory, std::min(length, kVerifyChunk));
    return kStatusOutOfMemory;
  }
  for (uint32_t done = 0; done < length;) {
    const uint32_t piece = std::min(length - done, kVerifyChunk);
    const FlashUpdateStatus status = readFlash(flashCtrl, address + done, chunk.data(), piece);
    if (status != kStatusSuccess) {
      trace::emit(tp::kReadFailed, address + done, piece, status);
      return status;
    }
    if (std::memcmp(chunk.data(), expected.data() + done, piece) != 0) {
      const auto [left, right] =
          std::mismatch(chunk.data(), chunk.data() + piece, expected.data() + done);
      trace::emit(tp::kDiffers, address + done + static_cast<uint32_t>(left - chunk.data()), *left,
                  *right);
      return kStatusFlashWriteFailed;
    }
    done += piece;
  }
  return kStatusSuccess;
}

}  // namespace hlv
