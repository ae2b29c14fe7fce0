// The update engine's only view of an adapter's SPI flash part.
#pragma once

#include <cstdint>

namespace hlv {

class VoFlashControlInterface {
 public:
  virtual ~VoFlashControlInterface() = default;

  // Claims the flash interface, identifies the part and fills the geometry below.
  virtual bool init() = 0;
  virtual bool read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) = 0;
  virtual bool write(uint32_t address, const uint8_t* buffer, uint32_t length,
                     uint32_t& bytesWritten) = 0;
  // Erases the sectorSize bytes at address.
  virtual bool eraseSector(uint32_t address) = 0;
  // Erases the blockSize bytes at address; only when blockEraseSupported.
  virtual bool eraseBlock(uint32_t address) = 0;

  // Geometry, 0/false until init succeeds.
  uint32_t flashId = 0;
  uint16_t pageSize = 0;
  uint32_t sectorSize = 0;  // 0 when the part has no small erase
  uint32_t blockSize = 0;
  uint32_t flashSize = 0;
  bool blockEraseSupported = false;
};

}  // namespace hlv
