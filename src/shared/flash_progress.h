// Watching the flash layer's work as it goes: the bytes of the part read, programmed and erased,
// reported while a long read, program or erase runs. Whoever shows progress implements the
// observer; the flash layer only counts, and works the same with no observer.
#pragma once

#include <cstdint>

namespace hlv {

enum class FlashOperation : uint8_t { kRead, kProgram, kErase };

class FlashProgressObserver {
 public:
  virtual ~FlashProgressObserver() = default;
  // `bytes` more bytes of the part were read, programmed or erased, in address order within one
  // request. Called from inside flash sequences: it must not reach the flash itself.
  virtual void flashBytesDone(FlashOperation operation, uint32_t bytes) = 0;
};

inline void reportFlashBytes(FlashProgressObserver* observer, FlashOperation operation,
                             uint32_t bytes) {
  if (observer != nullptr && bytes != 0) observer->flashBytesDone(operation, bytes);
}

}  // namespace hlv
