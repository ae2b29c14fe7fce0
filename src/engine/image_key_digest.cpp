#include "engine/image_key_digest.h"

#include <openssl/evp.h>

#include "engine/flash_layout.h"
#include "engine/image_key_digest_trace.h"
#include "engine/ncb.h"

namespace hlv {
namespace tp = trace_points::image_key_digest;

bool getImageKeyDigest(std::span<const uint8_t> image, KeyDigest& digest) {
  trace::emit(tp::kStart, static_cast<uint64_t>(image.size()));
  if (image.size() < kFlashLayoutSize) {
    trace::emit(tp::kImageTooSmall, static_cast<uint64_t>(image.size()));
    return false;
  }
  const std::optional<ConstHalvernNcb> ncb = findActiveImageNcb(image);
  if (!ncb) {
    trace::emit(tp::kNoActiveNcb);
    return false;
  }
  const uint64_t offset = ncb->macPart2Offset();
  const uint64_t size = ncb->macPart2Size();
  // MAC part 2 needs to reach the key block's start only; the block itself must still lie in
  // the image.
  const uint64_t keyStart = offset + kKeyBlockOffset;
  if (offset + size > image.size() || size < kKeyBlockOffset ||
      keyStart + kKeyBlockSize > image.size()) {
    trace::emit(tp::kNoKeyBlock, static_cast<uint32_t>(offset), static_cast<uint32_t>(size));
    return false;
  }
  const std::span<const uint8_t> key = image.subspan(keyStart, kKeyBlockSize);
  if (isEmpty(key.data(), kKeyBlockSize)) {
    trace::emit(tp::kKeyEmpty);
    return false;
  }
  KeyDigest computed{};
  unsigned int length = 0;
  if (EVP_Digest(key.data(), key.size(), computed.data(), &length, EVP_sha256(), nullptr) != 1 ||
      length != computed.size()) {
    trace::emit(tp::kDigestFailed);
    return false;
  }
  digest = computed;
  trace::emit(tp::kDigest, static_cast<uint64_t>(loadLe32(digest.data())));
  return true;
}

}  // namespace hlv
