#include "shared/crc16.h"

#include <array>

namespace hlv {
namespace {

constexpr std::array<uint16_t, 256> makeTable() {
  std::array<uint16_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint16_t value = static_cast<uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit) {
      value = (value & 0x8000) ? static_cast<uint16_t>((value << 1) ^ 0x1021)
                               : static_cast<uint16_t>(value << 1);
    }
    table[byte] = value;
  }
  return table;
}

constexpr std::array<uint16_t, 256> kTable = makeTable();

}  // namespace

uint16_t crc16(std::span<const uint8_t> bytes, uint16_t crc) {
  for (uint8_t b : bytes) {
    crc = static_cast<uint16_t>((crc << 8) ^ kTable[((crc >> 8) ^ b) & 0xFF]);
  }
  return crc;
}

uint16_t crc16(const uint8_t* buffer, std::size_t length, uint16_t crc) {
  if (length == 0) return crc;
  return crc16(std::span<const uint8_t>(buffer, length), crc);
}

}  // namespace hlv
