// The digest of the signing-key block an update image carries in MAC firmware part 2, which the
// key fuse check compares with the digest fused into the chip.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/update_image.h"

namespace hlv {

inline constexpr std::size_t kKeyDigestSize = 32;  // SHA-256
using KeyDigest = std::array<uint8_t, kKeyDigestSize>;

// SHA-256 of the 384-byte key block at MAC part 2 + 0xFE80 of the image's active block. False
// (digest unchanged) for an image whose MAC part 2 lies outside the image or is shorter than
// 0xFE80 bytes, whose key block does not lie wholly inside the image, or whose key block is all
// zero (the image carries no key).
bool getImageKeyDigest(const UpdateImage& image, KeyDigest& digest);
// The same on image bytes not parsed yet; false when they do not parse.
bool getImageKeyDigest(std::span<const uint8_t> image, KeyDigest& digest);

}  // namespace hlv
