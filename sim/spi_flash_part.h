// The SPI NOR flash part on the adapter, seen from its pins: chip select, then bytes shifted in
// and out. It decodes the command from the bytes it receives and, like a real part, carries out
// a program, erase or status write only when chip select is released after a complete command.
//
// NOR semantics: an erase sets its unit to 0xFF, a program only clears bits (the new byte is the
// old byte AND the data). Program data wraps inside its page. While a program, erase or status
// write runs, the part is busy and answers only its status read. Sequences that a real part
// would ignore or mishandle are counted as violations.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/flash_part_model.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

class SpiFlashPart {
 public:
  // storage holds the whole array and must be exactly model.capacity bytes.
  SpiFlashPart(FlashPartModel model, const AdapterConfig& config, VirtualClock& clock,
               std::span<uint8_t> storage, AdapterStats& stats);

  // Called after each program or erase command the part received (executed or not).
  void setModifyingCommandHook(std::function<void()> hook) { modifyingHook_ = std::move(hook); }

  void select();
  // Shifts one byte in and returns the byte shifted out at the same time.
  uint8_t exchange(uint8_t mosi);
  void deselect();
  bool selected() const { return selected_; }

  // Power-on reset: no command, not busy, write enable clear, protection as configured.
  void powerOn();

  bool busy() const;
  void setStuck(bool stuck) { stuck_ = stuck; }
  bool writeEnabled() const { return writeEnable_; }
  bool locked() const;
  const FlashPartModel& model() const { return model_; }

 private:
  enum class Command : uint8_t {
    kIgnored,
    kRead,
    kFastRead,
    kProgram,
    kErase,
    kWriteEnable,
    kWriteDisable,
    kStatusWriteEnable,
    kReadStatus,
    kWriteStatus,
    kJedecId,
    kShortId,
    kSfdp,
  };

  Command decode(uint8_t opcode) const;
  uint8_t statusByte() const;
  uint8_t readArrayByte(uint32_t index);
  void finishProgram();
  void finishErase();
  void finishWriteStatus();
  bool mayModify();
  void startBusy(uint64_t nanoseconds);
  uint64_t eraseTime(uint32_t size) const;

  FlashPartModel model_;
  bool protectedAtPowerOn_;
  AdapterTimings timings_;
  VirtualClock& clock_;
  std::span<uint8_t> storage_;
  AdapterStats& stats_;
  std::vector<uint8_t> sfdpArea_;
  std::function<void()> modifyingHook_;

  bool selected_ = false;
  bool stuck_ = false;
  Command command_ = Command::kIgnored;
  uint8_t opcode_ = 0;
  uint32_t received_ = 0;  // bytes after the opcode (a marker before the opcode)
  uint32_t address_ = 0;
  std::vector<uint8_t> pageBuffer_;
  uint32_t dataBytes_ = 0;
  bool crossedPage_ = false;
  uint8_t newStatus_ = 0;

  uint64_t busyUntil_ = 0;
  bool writeEnable_ = false;
  bool statusWriteUnlocked_ = false;  // opcode 0x50 received: the next status write is accepted
  uint8_t protectionBits_ = 0;        // status register bits 2-7
};

}  // namespace hlv::sim
