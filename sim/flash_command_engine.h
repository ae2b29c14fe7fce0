// The adapter's flash command engine: an SPI master behind six registers.
//
// The engine is meant to work only once the open sequence has set it up: the setup register
// holds its setup value and the interface control register has its enable bit (a word started
// before is counted, and still carried out). Writing the command
// register with the start bit then begins a word: for a new command the engine asserts chip
// select and sends the opcode, then the address bytes (the low bytes of the address register,
// most significant first), the dummy bytes and the data bytes that the format register asks
// for. Data bytes come from the data register (first byte in bits 0-7) when the program bit is
// set and are stored there otherwise. With keep-open set, chip select stays asserted and the next
// started word continues the same command with data bytes only; the word without keep-open
// releases chip select, which is when the part acts on a program or erase. Disabling the
// interface releases chip select too.
//
// A started word keeps the busy bit (and the start bit) set for the configured transfer time,
// plus a seeded jitter when one is configured; every register write and data read meanwhile
// disturbs the transfer and is counted.
#pragma once

#include <cstdint>

#include "device/register_map.h"

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/register_block.h"
#include "sim/seeded_random.h"
#include "sim/spi_flash_part.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

class FlashCommandEngine final : public RegisterBlock {
 public:
  FlashCommandEngine(SpiFlashPart& part, const AdapterConfig& config, VirtualClock& clock,
                     AdapterStats& stats);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;

  bool busy() const { return stuck_ || clock_.now() < busyUntil_; }
  void setStuck(bool stuck) { stuck_ = stuck; }
  // The busy time of each further word (without jitter).
  void setTransferTime(uint64_t nanoseconds) { transferNs_ = nanoseconds; }
  // Chip select held by a keep-open word.
  bool commandOpen() const { return open_; }
  // The setup and interface control registers are as the open sequence leaves them.
  bool interfaceEnabled() const;

 private:
  void startWord(uint32_t command);
  void interfaceControlWritten();
  uint64_t wordTime();

  SpiFlashPart& part_;
  VirtualClock& clock_;
  AdapterStats& stats_;
  uint64_t transferNs_;
  uint64_t jitterNs_;
  SeededRandom jitter_;
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
  // Where the command held open started, with how many address bytes, and how many data bytes
  // it has moved: a continuing word after the address register was written must find it
  // pointing where the transfer has got to.
  uint32_t openAddress_ = 0;
  uint32_t openAddressBytes_ = 0;
  uint32_t openMoved_ = 0;
  bool addressWrittenWhileOpen_ = false;
};

// Inline: the flash sequences read the command register millions of times while they poll.
inline uint32_t FlashCommandEngine::read(uint32_t offset) {
  switch (offset) {
    case reg::kFlashCommand: {
      const uint32_t running = busy() ? reg::kFlashCommandBusy | reg::kFlashCommandStart : 0;
      return (command_ & ~(reg::kFlashCommandBusy | reg::kFlashCommandStart)) | running;
    }
    case reg::kFlashAddress:
      return address_;
    case reg::kFlashData:
      if (busy()) stats_.record(Violation::kDataReadWhileEngineBusy);
      return data_;
    case reg::kFlashFormat:
      return format_;
    case reg::kFlashInterfaceControl:
      return interfaceControl_;
    case reg::kFlashInterfaceSetup:
      return interfaceSetup_;
    default:
      return 0;
  }
}

}  // namespace hlv::sim
