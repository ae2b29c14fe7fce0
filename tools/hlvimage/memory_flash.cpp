#include "tools/hlvimage/memory_flash.h"

#include <algorithm>
#include <cstring>

namespace hlv::image {

MemoryFlash::MemoryFlash(std::span<const uint8_t> contents) : contents_(contents) {
  pageSize = 256;
  sectorSize = 0x1000;
  blockSize = 0x10000;
  blockEraseSupported = true;
  flashSize = static_cast<uint32_t>(std::min<std::size_t>(contents_.size(), UINT32_MAX));
}

bool MemoryFlash::init() {
  return true;
}

bool MemoryFlash::read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) {
  bytesRead = 0;
  if (address > contents_.size() || length > contents_.size() - address) return false;
  if (length != 0) std::memcpy(buffer, contents_.data() + address, length);
  bytesRead = length;
  return true;
}

bool MemoryFlash::write(uint32_t, const uint8_t*, uint32_t, uint32_t& bytesWritten) {
  bytesWritten = 0;
  return false;
}

bool MemoryFlash::eraseSector(uint32_t) {
  return false;
}

bool MemoryFlash::eraseBlock(uint32_t) {
  return false;
}

}  // namespace hlv::image
