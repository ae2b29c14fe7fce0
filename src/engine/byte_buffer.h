// Working memory of the engine. Allocation never throws: a shortage is reported as a status by
// the routine that asked, and the memory is released with the buffer on every path.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace hlv {

class ByteBuffer {
 public:
  // A zero-filled buffer of `size` bytes, or one for which ok() is false when memory is short.
  // A size of 0 is a valid, empty buffer (an absent component needs no memory).
  static ByteBuffer allocate(uint32_t size);

  bool ok() const { return static_cast<bool>(bytes_); }
  uint8_t* data() const { return bytes_.get(); }
  uint32_t size() const { return size_; }
  std::span<uint8_t> span() const { return {bytes_.get(), size_}; }

 private:
  std::unique_ptr<uint8_t[]> bytes_;
  uint32_t size_ = 0;
};

}  // namespace hlv
