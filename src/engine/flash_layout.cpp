#include "engine/flash_layout.h"

#include <cstring>

#include "platform/hlv_assert.h"

namespace hlv {

bool isEmpty(const uint8_t* buffer, uint32_t length) {
  HLV_ASSERT(buffer && length != 0);
  // The buffer is zero when its first byte is and every byte equals the one before it.
  return buffer[0] == 0 && std::memcmp(buffer, buffer + 1, length - 1) == 0;
}

uint32_t alignUp(uint32_t value, uint32_t unit) {
  if (unit == 0) return value;
  const uint32_t remainder = value % unit;
  if (remainder == 0) return value;
  const uint64_t aligned = static_cast<uint64_t>(value) + (unit - remainder);
  HLV_ASSERT(aligned <= UINT32_MAX);
  return static_cast<uint32_t>(aligned);
}

uint32_t alignDown(uint32_t value, uint32_t unit) {
  if (unit == 0) return value;
  return value - value % unit;
}

}  // namespace hlv
