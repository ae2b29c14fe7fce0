#include "engine/image_key_digest.h"

#include "engine/flash_layout.h"
#include "engine/image_key_digest_trace.h"
#include "engine/ncb.h"
#include "shared/sha256.h"

namespace hlv {
namespace tp = trace_points::image_key_digest;

bool getImageKeyDigest(const UpdateImage& image, KeyDigest& digest) {
  const std::span<const uint8_t> bytes = image.bytes();
  trace::emit(tp::kStart, static_cast<uint64_t>(bytes.size()));
  const NcbRegion part2 = image.region(NcbComponent::kMacPart2);
  const uint64_t offset = part2.offset;
  const uint64_t size = part2.size;
  // MAC part 2 needs to reach the key block's start only; the block itself must still lie in
  // the image.
  const uint64_t keyStart = offset + kKeyBlockOffset;
  if (!image.component(NcbComponent::kMacPart2) || size < kKeyBlockOffset ||
      keyStart + kKeyBlockSize > bytes.size()) {
    trace::emit(tp::kNoKeyBlock, part2.offset, part2.size);
    return false;
  }
  const std::span<const uint8_t> key = bytes.subspan(keyStart, kKeyBlockSize);
  if (isEmpty(key.data(), kKeyBlockSize)) {
    trace::emit(tp::kKeyEmpty);
    return false;
  }
  const std::optional<Sha256Digest> computed = sha256(key);
  if (!computed) {
    trace::emit(tp::kDigestFailed);
    return false;
  }
  digest = *computed;
  trace::emit(tp::kDigest, static_cast<uint64_t>(loadLe32(digest.data())));
  return true;
}

bool getImageKeyDigest(std::span<const uint8_t> image, KeyDigest& digest) {
  const std::optional<UpdateImage> parsed = UpdateImage::parse(image);
  return parsed && getImageKeyDigest(*parsed, digest);
}

}  // namespace hlv
