// The rig the tests of every layer above the registers stand on: one emulated adapter on its own
// virtual clock, a recorder in front of it that keeps every register access, and the
// virtual-time platform installed while the rig lives, so that the program's sleeps and clock
// reads pass on the adapter's clock (a wait of seconds costs no real time).
//
// Torn down, the rig expects clean register traffic: no protocol violation but those of the
// kinds a test provokes on purpose (`provoked`), and no access to a register no block claims.
// The emulator's own tests, which break the protocol to see it counted, say so when they build
// the rig (TrafficCheck::kCountedByTheTest).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "sim/emulated_adapter.h"
#include "tests/support/recording_registers.h"
#include "tests/support/register_traffic.h"
#include "tests/support/virtual_time_platform.h"

namespace hlv::test {

enum class TrafficCheck : uint8_t {
  kExpectClean,       // the teardown fails the test on any violation not provoked
  kCountedByTheTest,  // the test checks the counts itself
};

class AdapterRig {
 public:
  explicit AdapterRig(const sim::AdapterConfig& adapterConfig = {},
                      TrafficCheck check = TrafficCheck::kExpectClean,
                      std::string rigName = "the adapter rig")
      : config(adapterConfig),
        adapter(config, clock),
        recorder(adapter),
        platform(clock),
        scope(platform),
        check_(check),
        name_(std::move(rigName)) {}
  ~AdapterRig() {
    if (check_ == TrafficCheck::kExpectClean) expectCleanRegisterTraffic(adapter, name_, provoked);
  }
  AdapterRig(const AdapterRig&) = delete;
  AdapterRig& operator=(const AdapterRig&) = delete;

  // An adapter with this firmware side, the default part.
  static sim::AdapterConfig withFirmware(const sim::FirmwareConfig& firmware) {
    sim::AdapterConfig c;
    c.firmware = firmware;
    return c;
  }
  // An adapter carrying this part, its protection bits set at power-on or not.
  static sim::AdapterConfig withPart(uint32_t jedecId, bool protectedAtPowerOn = false) {
    sim::AdapterConfig c;
    c.jedecId = jedecId;
    c.protectedAtPowerOn = protectedAtPowerOn;
    return c;
  }

  // The adapter's registers reached directly, not through the recorder.
  uint32_t read(uint32_t offset) { return adapter.read32(offset); }
  void write(uint32_t offset, uint32_t value) { adapter.write32(offset, value); }
  void waitMs(uint64_t ms) { clock.advance(ms * 1000000); }
  uint64_t violations(sim::Violation kind) const { return adapter.violations(kind); }

  sim::VirtualClock clock;
  sim::AdapterConfig config;
  sim::EmulatedAdapter adapter;
  RecordingRegisters recorder;
  VirtualTimePlatform platform;
  platform::ScopedPlatform scope;
  std::vector<sim::Violation> provoked;  // kinds the test causes on purpose

 private:
  TrafficCheck check_;
  std::string name_;
};

}  // namespace hlv::test
