// An update image carrying a signing-key block of known contents, and that block's SHA-256 as
// computed outside the program.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "engine/flash_layout.h"
#include "engine/ncb.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::test {

inline std::vector<uint8_t> sampleKey() {
  std::vector<uint8_t> key(kKeyBlockSize);
  for (std::size_t i = 0; i < key.size(); ++i)
    key[i] = static_cast<uint8_t>(i * 7 + 3);
  return key;
}

inline constexpr std::array<uint8_t, 32> kSampleKeyDigest = {
    0x3d, 0x9c, 0x7f, 0x57, 0x7b, 0x18, 0xb6, 0x41, 0xd4, 0xd7, 0xf3, 0x46, 0x41, 0x10, 0x99, 0x89,
    0xf8, 0x11, 0x58, 0x42, 0xcb, 0x77, 0x1c, 0xe0, 0x71, 0x6c, 0x2d, 0xe7, 0x7d, 0xb1, 0x59, 0xb7};

// An update image (the builder's default, changed by `change`) whose MAC part 2 carries `key` at
// 0xFE80; an empty key leaves an all-zero key block.
inline std::vector<uint8_t> imageWithKey(
    const std::vector<uint8_t>& key, const std::function<void(image::ImageSpec&)>& change = {}) {
  image::ImageSpec spec;
  spec.ncbs[0].firmware.keyBlock = false;
  if (change) change(spec);
  std::vector<uint8_t> image = image::buildImage(spec);
  const std::optional<ConstHalvernNcb> ncb = findActiveImageNcb(image);
  const uint64_t at = ncb ? ncb->macPart2Offset() + kKeyBlockOffset : 0;
  for (std::size_t i = 0; i < key.size() && at + i < image.size(); ++i)
    image[at + i] = key[i];
  return image;
}

}  // namespace hlv::test
