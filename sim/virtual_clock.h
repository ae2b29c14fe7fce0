// The emulated machine's clock: virtual nanoseconds that pass only when the emulated hardware or
// the program's sleeps make them pass, so bounded waits cost no real time.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

namespace hlv::sim {

class VirtualClock {
 public:
  uint64_t now() const { return now_; }
  void advance(uint64_t nanoseconds) {
    now_ += nanoseconds;
    if (now_ >= nextAlarm_) ringAlarms();
  }

  // Test hook: `action` runs once, when the clock first reaches `at` nanoseconds (at once if it
  // has already). Several alarms may wait (one adapter's kill, another's signal); they ring in
  // the order of their times.
  void addAlarm(uint64_t at, std::function<void()> action) {
    alarms_.push_back({at, std::move(action)});
    nextAlarm_ = std::min(nextAlarm_, at);
    if (now_ >= nextAlarm_) ringAlarms();
  }

 private:
  struct Alarm {
    uint64_t at;
    std::function<void()> action;
  };

  // An action may add alarms or never return (a kill): each alarm is taken off before it runs.
  void ringAlarms() {
    for (;;) {
      const auto due = std::min_element(alarms_.begin(), alarms_.end(),
                                        [](const Alarm& a, const Alarm& b) { return a.at < b.at; });
      if (due == alarms_.end() || due->at > now_) break;
      std::function<void()> action = std::move(due->action);
      alarms_.erase(due);
      if (action) action();
    }
    nextAlarm_ = std::numeric_limits<uint64_t>::max();
    for (const Alarm& alarm : alarms_)
      nextAlarm_ = std::min(nextAlarm_, alarm.at);
  }

  uint64_t now_ = 0;
  uint64_t nextAlarm_ = std::numeric_limits<uint64_t>::max();
  std::vector<Alarm> alarms_;
};

}  // namespace hlv::sim
