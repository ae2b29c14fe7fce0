// CRC-16/XMODEM: polynomial 0x1021, initial value 0, no reflection, no final XOR. The one
// checksum of the control blocks and of every firmware component they describe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace hlv {

// CRC of the bytes, continuing from `crc` (0 starts a new checksum), so that a checksum over
// two separate pieces equals the checksum over their concatenation.
uint16_t crc16(std::span<const uint8_t> bytes, uint16_t crc = 0);
uint16_t crc16(const uint8_t* buffer, std::size_t length, uint16_t crc = 0);

}  // namespace hlv
