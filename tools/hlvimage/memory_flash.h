// A flash part in memory: the bytes of a file read through the same flash control interface
// the adapter's part is read through, so that the engine's own routines judge a file exactly
// as they judge a flash. Read-only: programming and erasing fail.
#pragma once

#include <cstdint>
#include <span>

#include "flashctl/voflashcontrolinterface.h"

namespace hlv::image {

class MemoryFlash : public VoFlashControlInterface {
 public:
  // Ready at once (init only confirms): the part's size is the buffer's (capped at 4 GiB - 1),
  // the geometry that of a common 2 MiB part (256-byte pages, 4 KiB sectors, 64 KiB blocks).
  // The buffer must outlive this.
  explicit MemoryFlash(std::span<const uint8_t> contents);

  bool init() override;
  // Refuses any read that passes the end of the buffer.
  bool read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) override;
  bool write(uint32_t address, const uint8_t* buffer, uint32_t length,
             uint32_t& bytesWritten) override;
  bool eraseSector(uint32_t address) override;
  bool eraseBlock(uint32_t address) override;

 private:
  std::span<const uint8_t> contents_;
};

}  // namespace hlv::image
