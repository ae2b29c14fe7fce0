// The registers through which the program resets the adapter's running firmware and learns which
// firmware interface it offers, and the firmware's side of those resets.
//
//   0x0000  the reset word. Bits 0-13 hold the chip's configuration (0x0A24 at power-on), which
//           every write must leave as it reads; bits 16-31 read 0; bit 14 must be written 0 (a
//           write that breaks either is kept_bits_changed, and one with bit 14 set resets
//           nothing). Bit 15 starts a global reset and reads 0.
//   0x0018  non-zero while the firmware runs; 0 while it is reset, boots or hangs
//   0x0388  interface 2: the firmware's word, which it writes when it starts and when it is asked
//           to halt; a value the program writes there (0xDEAD) stays until then. A write while
//           the firmware is down (from the reset until it has started) is lost and counted
//           (firmware_reset_out_of_order). Interface 1 and no firmware: always 0
//   0x0704  interface 1: a state other than 0x6000000, with bit 4 set once the interface-1 reset
//           has completed (until the next halt request or reset). No firmware, or one that does
//           not run: 0x6000000
//   0x0404  the control word (kept by its own block); the firmware acts on four values of it
//   0x0520  1 requests the interface-1 reset
//   0x053C  bit 4 asks the next global reset to restart a halted firmware (the reset clears it);
//           during the interface-1 reset a pulse of it, at least 10 ms long, strobes the request in
//   0x32A8  the firmware's reset record: non-zero once it has started, been asked to halt or been
//           held; a firmware is reloaded only once the program has cleared it
//   0x4000, 0x5000, 0x7000   bit 29 set while the block runs. The blocks feed one another
//           (0x5000 into 0x7000 into 0x4000) and are stopped in that order; a write must keep
//           every other bit
//
// A global reset takes its latency (firmwareResetLatencyNs, plus seeded jitter) to show: until
// then 0x18, 0x388 and 0x704 read what they read when it was started, so that a poll that takes
// the first non-zero read after the reset word cannot tell the old firmware from the new. Every
// block must be stopped when the reset starts: a block still running hangs, and the firmware with
// it (reset_with_block_running: it never answers again).
//
// The firmware:
//   running   answers; now and then it uses the MDIO bus (firmwareMdioEveryNs), holding 0x3A0
//   0x40E1    asks it to halt: it takes 0x3A0 at once (the interface-2 firmware hands it over to
//             the program at once, the interface-1 firmware at the end of its reset), writes its
//             reset record, and stops its blocks itself 50 ms later. 0x40E0 resumes it (its blocks
//             start again)
//   a global reset of a running firmware restarts it: it answers again firmwareBootNs after the
//             reset shows, starts its blocks, sets the MDIO interface up and writes its record
//   a global reset of a halted firmware needs the restart request (0x53C bit 4); the interface-2
//             firmware also needs its word marked 0xDEAD, its record cleared and 0x3A0 released.
//             Then it stays down until the program starts it: interface 2 with 0x40E0 (it boots);
//             interface 1 with its reset: 0x80E0 (the hold, which writes the record), 0x32A8 = 0,
//             0x520 = 1, the pulse of 0x53C bit 4, and 0x180E0, after which it starts
//             interface1ResetNs later with 0x704 bit 4 set, still holding 0x3A0 and leaving the
//             MDIO interface unset. The closing 0x80E0 tells it to finish starting, which takes
//             50 ms: from then on the program may release 0x3A0 for it.
// A step that does not fit the firmware's state is firmware_reset_out_of_order and does nothing;
// a halted firmware reset without what its reload needs, or a reset broken off by a control word
// before it has completed, leaves the firmware hung. A stuck firmware (firmware_stuck) never
// starts after a reset. Values of the control word other than the four (the flash sessions save
// and restore the word) mean nothing to the firmware.
#pragma once

#include <cstdint>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/control_word.h"
#include "sim/hardware_semaphores.h"
#include "sim/mdio_phy.h"
#include "sim/register_block.h"
#include "sim/seeded_random.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

class FirmwareControl : public RegisterBlock {
 public:
  // The control word block keeps the value of 0x0404; this block watches its writes. The
  // firmware takes the MDIO semaphore and uses the MDIO bus.
  FirmwareControl(const AdapterConfig& config, VirtualClock& clock, AdapterStats& stats,
                  ControlWord& controlWord, HardwareSemaphores& semaphores, MdioPhy& mdio);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;

  // Lets what the passing time brings happen (the firmware's halt, start and uses of the bus).
  // The adapter calls it before every access to a register of the firmware's side.
  void settle();

  // The firmware runs (whatever 0x18 still reads during a reset's latency).
  bool running() const;
  bool hung() const { return phase_ == Phase::kHung; }

  // What the running firmware keeps in its registers.
  static constexpr uint32_t kAliveValue = 0x1;
  static constexpr uint32_t kInterface2Word = 0x00020105;
  static constexpr uint32_t kInterface1State = 0x06000001;
  static constexpr uint32_t kResetWordAtPowerOn = 0x0A24;
  static constexpr uint32_t kResetRecord = 0x1;
  // The times the firmware needs: to stop its blocks after the halt request, to finish starting
  // after the closing 0x80E0; the shortest pulse of 0x53C bit 4 it takes.
  static constexpr uint64_t kHaltNs = 50000000;
  static constexpr uint64_t kHandoverNs = 50000000;
  static constexpr uint64_t kPulseNs = 10000000;

 private:
  enum class Phase : uint8_t {
    kAbsent,     // no firmware
    kRunning,    // runs and answers
    kHalting,    // asked to halt (0x40E1); halted once it has stopped its blocks
    kBooting,    // restarting after a global reset: runs from bootAt_
    kHeldDown,   // reset while halted: waits for the program to start it
    kCompleted,  // interface 1: started by its reset; waits for the closing 0x80E0
    kClosing,    // interface 1: finishing its start; hands 0x3A0 over
    kHung,       // never answers again until power-on
  };
  // The interface-1 reset of a firmware held down, step by step.
  enum class Step : uint8_t { kAwaitingHold, kHeld, kRequested, kStrobed, kDriven };

  bool interface1() const { return firmware_.kind == FirmwareKind::kInterface1; }
  bool interface2() const { return firmware_.kind == FirmwareKind::kInterface2; }
  uint32_t aliveNow() const;
  uint32_t stateNow() const;
  uint64_t latency();
  void outOfOrder();
  void startBlocks();
  void stopBlocks();
  void start(bool byInterface1Reset);
  void endBusUse();
  void scheduleBusUse(uint64_t from);
  void useBus(uint64_t now);
  void onResetWord(uint32_t value);
  void globalReset();
  void onControlWord(uint32_t value);
  void onControlBits(uint32_t value);
  void onInterface1Request(uint32_t value);
  void onInterface2Word(uint32_t value);
  void onBlock(int index, uint32_t value);

  const FirmwareConfig& firmware_;
  const AdapterTimings& timings_;
  VirtualClock& clock_;
  AdapterStats& stats_;
  ControlWord& controlWord_;
  HardwareSemaphores& semaphores_;
  MdioPhy& mdio_;
  SeededRandom latencyRandom_;
  SeededRandom busRandom_;

  Phase phase_ = Phase::kRunning;
  Step step_ = Step::kAwaitingHold;
  uint32_t resetWord_ = 0;
  uint32_t interface2Word_ = 0;
  uint32_t interface1Reset_ = 0;
  uint32_t controlBits_ = 0;
  uint32_t scratch_ = 0;
  uint32_t blocks_[3] = {};  // 0x4000, 0x5000, 0x7000
  bool resetDone_ = false;   // 0x704 bit 4
  bool halted_ = false;      // the halting firmware has stopped its blocks
  uint64_t haltAt_ = 0;
  uint64_t bootAt_ = 0;
  uint64_t doneAt_ = 0;
  bool pulsing_ = false;
  uint64_t pulseAt_ = 0;
  // During a reset's latency, what 0x18 and 0x704 read when it was started.
  uint64_t staleUntil_ = 0;
  uint32_t staleAlive_ = 0;
  uint32_t staleState_ = 0;
  // The firmware's uses of the MDIO bus.
  uint64_t nextUse_ = 0;
  uint64_t busUntil_ = 0;  // 0: not using it
};

}  // namespace hlv::sim
