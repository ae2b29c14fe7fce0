// The adapter's flash command engine: an SPI master behind six registers.
//
// Writing the command register with the start bit begins a word: for a new command the engine
// asserts chip select and sends the opcode, then the address bytes (the low bytes of the address
// register, most significant first), the dummy bytes and the data bytes that the format register
// asks for. Data bytes come from the data register (first byte in bits 0-7) when the program bit
// is set and are stored there otherwise. With keep-open set, chip select stays asserted and the
// next started word continues the same command with data bytes only; the word without keep-open
// releases chip select, which is when the part acts on a program or erase. A started word keeps
// the busy bit set for a short time; the start bit reads back set only while the word runs.
#pragma once

#include <cstdint>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/register_block.h"
#include "sim/spi_flash_part.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

class FlashCommandEngine : public RegisterBlock {
 public:
  FlashCommandEngine(SpiFlashPart& part, const AdapterConfig& config, VirtualClock& clock,
                     AdapterStats& stats);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;

  bool busy() const;
  void setStuck(bool stuck) { stuck_ = stuck; }
  // Chip select held by a keep-open word.
  bool commandOpen() const { return open_; }

 private:
  void startWord(uint32_t command);

  SpiFlashPart& part_;
  VirtualClock& clock_;
  AdapterStats& stats_;
  uint64_t transferNs_;
  bool stuck_;

  uint32_t command_ = 0;
  uint32_t address_ = 0;
  uint32_t data_ = 0;
  uint32_t format_ = 0;
  uint32_t interfaceControl_ = 0;
  uint32_t interfaceSetup_ = 0;
  uint64_t busyUntil_ = 0;
  bool open_ = false;
  uint32_t openCommand_ = 0;  // opcode and program bit of the command held open
};

}  // namespace hlv::sim
