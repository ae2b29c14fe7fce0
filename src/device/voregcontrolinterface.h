// 32-bit access to an adapter's register window (PCI region 0).
#pragma once

#include <cstdint>

namespace hlv {

class VoRegControlInterface {
 public:
  virtual ~VoRegControlInterface() = default;
  // One 32-bit read at a byte offset of the window; an unmapped window reads 0xFFFFFFFF.
  virtual uint32_t read32(uint32_t offset) = 0;
  // One 32-bit write at a byte offset of the window; lost on an unmapped window.
  virtual void write32(uint32_t offset, uint32_t value) = 0;
};

}  // namespace hlv
