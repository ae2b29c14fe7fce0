// The emulated machine's clock: virtual nanoseconds that pass only when the emulated hardware or
// the program's sleeps make them pass, so bounded waits cost no real time.
#pragma once

#include <cstdint>

namespace hlv::sim {

class VirtualClock {
 public:
  uint64_t now() const { return now_; }
  void advance(uint64_t nanoseconds) { now_ += nanoseconds; }

 private:
  uint64_t now_ = 0;
};

}  // namespace hlv::sim
