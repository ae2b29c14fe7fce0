// A platform whose clock and sleeps are an emulated adapter's virtual clock, for tests that run
// the program's timed sequences in-process: a wait of seconds costs no real time. Nothing else
// of the machine is reached (paths resolve to themselves, no register window can be mapped).
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "sim/virtual_clock.h"

namespace hlv::test {

class VirtualTimePlatform : public platform::Platform {
 public:
  explicit VirtualTimePlatform(sim::VirtualClock& clock) : clock_(clock) {}

  std::string hostPath(std::string_view absolutePath) const override {
    return std::string(absolutePath);
  }
  uid_t realUserId() const override { return 0; }
  uint64_t monotonicNanoseconds() override {
    clock_.advance(kClockReadNs);
    return clock_.now();
  }
  void sleepMicroseconds(uint64_t microseconds) override {
    clock_.advance(microseconds * 1000);
    sleptUs += microseconds;
  }
  void yieldProcessor() override { clock_.advance(kYieldNs); }
  platform::RegisterWindow mapRegisterWindow(const std::string&, uint64_t) override { return {}; }
  void unmapRegisterWindow(const platform::RegisterWindow&, uint64_t) override {}

  uint64_t sleptUs = 0;  // every sleep, added up

  static constexpr uint64_t kClockReadNs = 50;
  static constexpr uint64_t kYieldNs = 1000;

 private:
  sim::VirtualClock& clock_;
};

}  // namespace hlv::test
