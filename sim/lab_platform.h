// The platform of an emulated machine: "/sys", "/proc" and "/run" (where the tool keeps its
// machine-wide lock) live under the lab, the clock and the sleeps are the lab's virtual clock, and
// mapping a PCI function's "resource0" gives the lab's emulated adapter of that address instead
// of memory.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "platform/platform.h"
#include "sim/lab.h"

namespace hlv::sim {

class LabPlatform : public platform::Platform {
 public:
  // The lab must outlive the platform; userId is what realUserId reports.
  explicit LabPlatform(Lab& lab, uid_t userId = 0);

  std::string hostPath(std::string_view absolutePath) const override;
  uid_t realUserId() const override { return userId_; }
  uint64_t monotonicNanoseconds() override;
  void sleepMicroseconds(uint64_t microseconds) override;
  void yieldProcessor() override;
  // Gives a token standing for the emulated window (no descriptor) when the lab has an adapter
  // for the function; fails like a missing file otherwise (ENOENT), and with the adapter's
  // configured refusal (map_refused) as a kernel that refuses the mapping.
  platform::RegisterWindow mapRegisterWindow(const std::string& resourcePath,
                                             uint64_t length) override;
  void unmapRegisterWindow(const platform::RegisterWindow& window, uint64_t length) override;
  VoRegControlInterface* emulatedRegisters(const void* mapping) override;

  // Windows mapped and not yet unmapped.
  int liveMappings() const;

  // Virtual time a clock read, a yield costs: a poll loop that only watches the clock still
  // moves forward.
  static constexpr uint64_t kClockReadNs = 50;
  static constexpr uint64_t kYieldNs = 1000;

 private:
  Lab& lab_;
  uid_t userId_;
  struct LiveWindow {
    EmulatedAdapter* adapter;
    int mappings;  // mapped and not yet unmapped
  };
  std::map<const void*, LiveWindow> live_;  // by the token handed out as the mapping
};

}  // namespace hlv::sim
