// The chip revision word (0x1C), the serial test port (0x3200 control, 0x3204 data) and the fuse
// read port (0x3334 command, 0x3330 result).
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
// strobe) and the word in bits 16-31 (lane * 0x400 + index). The word is latched into the result
// register when the strobe is released. Every command written while the program does not hold
// the fuse semaphore is a protocol break.
#pragma once

#include <array>
#include <cstdint>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/hardware_semaphores.h"
#include "sim/register_block.h"

namespace hlv::sim {

class ChipFuses : public RegisterBlock {
 public:
  ChipFuses(const AdapterConfig& config, AdapterStats& stats, const HardwareSemaphores& semaphores);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;

  bool fusePortOpen() const { return open_; }
  uint32_t fuse(uint32_t lane, uint32_t index) const { return fuses_[lane][index]; }

 private:
  void onControl(uint32_t value);
  void onCommand(uint32_t value);

  const FirmwareConfig& firmware_;
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
  bool strobed_ = false;
  uint32_t result_ = 0;
};

}  // namespace hlv::sim
