#include "engine/byte_buffer.h"

#include <new>

namespace hlv {

ByteBuffer ByteBuffer::allocate(uint32_t size) {
  ByteBuffer buffer;
  // One byte for an empty buffer, so that its data pointer is never null.
  buffer.bytes_.reset(new (std::nothrow) uint8_t[size == 0 ? 1 : size]());
  if (buffer.bytes_) buffer.size_ = size;
  return buffer;
}

}  // namespace hlv
