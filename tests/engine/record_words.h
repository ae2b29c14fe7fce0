// Little-endian record streams written out word by word, for the stream tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace hlv::test {

inline std::vector<uint8_t> words32(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> bytes;
  for (uint32_t v : values) {
    for (int i = 0; i < 4; ++i)
      bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  return bytes;
}

inline std::vector<uint8_t> words16(std::initializer_list<uint16_t> values) {
  std::vector<uint8_t> bytes;
  for (uint16_t v : values) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  return bytes;
}

}  // namespace hlv::test
