// A register access object that forwards to another and records every access, so a test can
// see the exact transfers a sequence sent.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "device/register_map.h"
#include "device/voregcontrolinterface.h"

namespace hlv::test {

struct RegisterAccess {
  bool write;
  uint32_t offset;
  uint32_t value;
};

class RecordingRegisters : public VoRegControlInterface {
 public:
  explicit RecordingRegisters(VoRegControlInterface& target) : target_(target) {}

  uint32_t read32(uint32_t offset) override {
    const uint32_t value = target_.read32(offset);
    accesses.push_back({false, offset, value});
    if (afterAccess) afterAccess();
    return value;
  }
  void write32(uint32_t offset, uint32_t value) override {
    target_.write32(offset, value);
    accesses.push_back({true, offset, value});
    if (afterAccess) afterAccess();
  }

  // Opcodes of the words started on the command engine, in order.
  std::vector<uint8_t> startedOpcodes() const {
    std::vector<uint8_t> opcodes;
    for (const RegisterAccess& access : accesses) {
      if (access.write && access.offset == reg::kFlashCommand &&
          (access.value & reg::kFlashCommandStart) != 0) {
        opcodes.push_back(static_cast<uint8_t>(access.value & reg::kFlashCommandOpcodeMask));
      }
    }
    return opcodes;
  }
  // Started words whose opcode is not the status read.
  std::vector<uint8_t> commandsOtherThan(uint8_t statusOpcode) const {
    std::vector<uint8_t> opcodes;
    for (uint8_t opcode : startedOpcodes()) {
      if (opcode != statusOpcode) opcodes.push_back(opcode);
    }
    return opcodes;
  }
  std::size_t count(bool write, uint32_t offset) const {
    std::size_t n = 0;
    for (const RegisterAccess& access : accesses)
      n += access.write == write && access.offset == offset;
    return n;
  }

  std::vector<RegisterAccess> accesses;
  std::function<void()> afterAccess;  // runs after each access (fault injection)

 private:
  VoRegControlInterface& target_;
};

}  // namespace hlv::test
