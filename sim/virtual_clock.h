// The emulated machine's clock: virtual nanoseconds that pass only when the emulated hardware or
// the program's sleeps make them pass, so bounded waits cost no real time.
#pragma once

#include <cstdint>
#include <limits>

namespace hlv::sim {

class VirtualClock {
 public:
  uint64_t now() const { return now_; }
  void advance(uint64_t nanoseconds) {
    now_ += nanoseconds;
    if (now_ >= alarmAt_) ringAlarm();
  }

  // Test hook: `action` runs once, when the clock first reaches `at` nanoseconds (at once if it
  // has already). A later alarm replaces an earlier one.
  void setAlarm(uint64_t at, void (*action)()) {
    alarmAt_ = at;
    alarm_ = action;
    if (now_ >= alarmAt_) ringAlarm();
  }

 private:
  void ringAlarm() {
    alarmAt_ = std::numeric_limits<uint64_t>::max();
    if (alarm_ != nullptr) alarm_();
  }

  uint64_t now_ = 0;
  uint64_t alarmAt_ = std::numeric_limits<uint64_t>::max();
  void (*alarm_)() = nullptr;
};

}  // namespace hlv::sim
