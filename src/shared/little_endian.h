// Little-endian access to byte buffers, for formats read from the flash and from image files.
// Nothing here checks bounds: callers check them before they call.
#pragma once

#include <cstdint>

namespace hlv {

inline uint16_t loadLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t loadLe24(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16);
}
inline uint32_t loadLe32(const uint8_t* p) {
  return loadLe24(p) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void storeLe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
inline void storeLe32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace hlv
