// The registers through which the program resets the adapter's running firmware and learns which
// firmware interface it offers.
//
//   0x0000  a write with bit 15 set and bit 14 clear starts a global reset: the firmware stops
//           and answers again after its boot time (never when it is stuck); bit 15 reads 0
//   0x0018  0 while the firmware does not run, non-zero while it does
//   0x0388  interface 2: non-zero while the firmware runs; a value written there (0xDEAD) stays
//           until the firmware has restarted and overwritten it. Interface 1 and no firmware:
//           always 0
//   0x0704  interface 1: a state other than 0x6000000; bit 4 is set once the interface-1 reset
//           has completed. No firmware, or a firmware that has not answered yet: 0x6000000
//   0x0404  the control word (kept by its own block); the interface-1 reset is driven by writing
//           0x40E1, then 0x80E0, then 1 to 0x0520, then 0x180E0: bit 4 of 0x0704 follows after
//           the reset's time. 0x180E0 written without the steps before it is a protocol break
//           and resets nothing
//   0x0520, 0x053C, 0x32A8   plain registers the reset sequences write
//   0x4000, 0x5000, 0x7000   bit 29 set while the firmware runs its blocks; the program clears
//           it before a global reset and the restarted firmware sets it again
#pragma once

#include <cstdint>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/control_word.h"
#include "sim/register_block.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

class FirmwareControl : public RegisterBlock {
 public:
  // The control word block keeps the value of 0x0404; this block watches its writes.
  FirmwareControl(const AdapterConfig& config, VirtualClock& clock, AdapterStats& stats,
                  ControlWord& controlWord);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;

  // The firmware runs (it answers on 0x0018).
  bool running() const;
  bool interface1ResetDone() const;

  // What the running firmware keeps in its registers.
  static constexpr uint32_t kAliveValue = 0x1;
  static constexpr uint32_t kInterface2Word = 0x00020105;
  static constexpr uint32_t kInterface1State = 0x06000001;

 private:
  // Control word values that drive the interface-1 reset, in order.
  enum class Interface1Step : uint8_t { kIdle, kArmed, kHeld, kRequested };

  void settle();  // lets what the passing time brings happen
  void globalReset();
  void onControlWord(uint32_t value);

  const FirmwareConfig& firmware_;
  const AdapterTimings& timings_;
  VirtualClock& clock_;
  AdapterStats& stats_;
  ControlWord& controlWord_;

  uint32_t resetRegister_ = 0;
  bool booting_ = false;
  uint64_t bootDoneAt_ = 0;
  uint32_t interface2Word_ = 0;
  uint32_t interface1Reset_ = 0;
  uint32_t controlBits_ = 0;
  uint32_t scratch_ = 0;
  uint32_t blocks_[3] = {};
  Interface1Step step_ = Interface1Step::kIdle;
  bool resetDriven_ = false;
  uint64_t resetDoneAt_ = 0;
};

}  // namespace hlv::sim
