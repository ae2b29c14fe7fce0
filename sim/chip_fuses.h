// The chip revision word (0x1C), the serial test port (0x3200 control, 0x3204 data) and the fuse
// read port (0x3334 command, 0x3330 result).
//
// Both ports belong to whoever holds the fuse semaphore (0x3A4): the adapter's firmware uses
// them too. Every access to them while the program does not hold it is a protocol break; such a
// write is dropped and such a read returns 0, as the port is then the firmware's. Releasing the
// semaphore closes the fuse read port: what was set up under one hold is gone, and the next
// holder clocks the opening sequence again.
//
// The fuse read port answers only after the test port has been clocked through the one sequence
// that opens it. The sequence starts when the control register is written 0; each rising clock
// edge (bit 24 written set, with the port enabled by bit 28) carries the mode-select (bit 20) and
// data-in (bit 16) lines, and every edge is compared with the expected sequence. The port opens
// when, after the last expected edge, the control register is written with the port enabled and
// no line set, provided the data register was set up with 0x10000 and no edge was wrong. A wrong
// or surplus edge is a protocol break and leaves the port closed until the next sequence; so is
// a sequence left unfinished, noticed when a fuse word is read.
//
// A fuse word is addressed by lane (0..3) and index (0..31). A command selects one lane in its
// low half (that lane's nibble 5, every other nibble C; nibble 7 is the selected lane with its
// strobe) and the word in bits 16-31 (lane * 0x400 + index). A word is read in three steps: it is
// selected, strobed (the same command with the strobe) and the strobe released (the command
// again); the fuses need 1 ms between the selection and the strobe and 1 ms between the strobe
// and its release. The word is latched into the result register when the strobe is released,
// and stays there until the next command: the result reads 0 at any other time, when a step was
// left out or taken too soon (a step within 1 ms is also a protocol break), and while the port
// is closed (reading a word then is a protocol break as well).
#pragma once

#include <array>
#include <cstdint>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/hardware_semaphores.h"
#include "sim/register_block.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

class ChipFuses : public RegisterBlock {
 public:
  ChipFuses(const AdapterConfig& config, VirtualClock& clock, AdapterStats& stats,
            const HardwareSemaphores& semaphores);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;
  // The fuse semaphore was released: both ports go back to their idle state, closed.
  void closePort();

  bool fusePortOpen() const { return open_; }
  uint32_t fuse(uint32_t lane, uint32_t index) const { return fuses_[lane][index]; }

  // The least time between the steps of a fuse word read.
  static constexpr uint64_t kFuseStepNs = 1000000;

 private:
  // Where a fuse word read has got to.
  enum class ReadStep : uint8_t { kIdle, kSelected, kStrobed, kLatched };

  // True when the program holds the fuse semaphore; otherwise the access is counted as a break.
  bool heldByProgramOrCounted();
  void onControl(uint32_t value);
  void onCommand(uint32_t value);
  void latch();

  const FirmwareConfig& firmware_;
  VirtualClock& clock_;
  AdapterStats& stats_;
  const HardwareSemaphores& semaphores_;
  std::array<std::array<uint32_t, 32>, 4> fuses_{};

  // Test port.
  bool sequenceStarted_ = false;
  bool sequenceWrong_ = false;
  std::size_t edges_ = 0;
  bool clockHigh_ = false;
  uint32_t dataRegister_ = 0;
  bool open_ = false;

  // Fuse read port.
  uint32_t command_ = 0;
  ReadStep step_ = ReadStep::kIdle;
  uint32_t lane_ = 0;
  uint32_t index_ = 0;
  uint64_t stepAt_ = 0;       // when the word was selected, or strobed
  bool strobeEarly_ = false;  // strobed within 1 ms of the selection: the word will not latch
  uint32_t result_ = 0;
};

}  // namespace hlv::sim
