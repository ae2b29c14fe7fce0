// Drives an emulated adapter's flash command engine register by register, the way a program
// would, so that tests can send both good and wrong sequences.
#pragma once

#include <cstdint>

#include "device/register_map.h"
#include "sim/emulated_adapter.h"

namespace hlv::test {

class RawEngine {
 public:
  explicit RawEngine(sim::EmulatedAdapter& adapter) : adapter_(adapter) {}

  // Sets the interface up as the program's open sequence does, and disables it again.
  void open() {
    adapter_.write32(reg::kFlashInterfaceSetup, reg::kFlashInterfaceSetupValue);
    adapter_.write32(reg::kFlashInterfaceControl, reg::kFlashInterfaceEnable | 0x10);
  }
  void close() { adapter_.write32(reg::kFlashInterfaceControl, 0); }

  void format(uint32_t addressBytes, uint32_t dummyBytes, uint32_t dataBytes) {
    adapter_.write32(reg::kFlashFormat, addressBytes |
                                            dummyBytes << reg::kFlashFormatDummyBytesShift |
                                            dataBytes << reg::kFlashFormatDataBytesShift);
  }
  void address(uint32_t value) { adapter_.write32(reg::kFlashAddress, value); }
  void data(uint32_t value) { adapter_.write32(reg::kFlashData, value); }
  uint32_t data() { return adapter_.read32(reg::kFlashData); }
  void start(uint8_t opcode, bool keepOpen = false, bool program = false) {
    adapter_.write32(reg::kFlashCommand, reg::kFlashCommandStart | opcode |
                                             (keepOpen ? reg::kFlashCommandKeepOpen : 0) |
                                             (program ? reg::kFlashCommandProgram : 0));
  }
  // Polls the busy bit; false when it never cleared.
  bool waitEngine() {
    for (int i = 0; i < 100; ++i) {
      if ((adapter_.read32(reg::kFlashCommand) & reg::kFlashCommandBusy) == 0) return true;
    }
    return false;
  }
  uint8_t status() {
    format(0, 0, 1);
    start(0x05);
    waitEngine();
    return static_cast<uint8_t>(data());
  }
  // Status reads until the part is not busy; false after many.
  bool waitPart() {
    for (int i = 0; i < 1000000; ++i) {
      if ((status() & 0x01) == 0) return true;
    }
    return false;
  }
  void simple(uint8_t opcode) {
    format(0, 0, 0);
    start(opcode);
    waitEngine();
  }
  void writeEnable() { simple(0x06); }
  // One word of up to four bytes programmed at address.
  void program(uint32_t at, uint32_t word, uint32_t bytes = 4) {
    format(3, 0, bytes);
    address(at);
    data(word);
    start(0x02, false, true);
    waitEngine();
  }
  void erase(uint8_t opcode, uint32_t at) {
    format(3, 0, 0);
    address(at);
    start(opcode);
    waitEngine();
  }
  uint32_t readWord(uint32_t at) {
    format(3, 0, 4);
    address(at);
    start(0x03);
    waitEngine();
    return data();
  }

 private:
  sim::EmulatedAdapter& adapter_;
};

}  // namespace hlv::test
