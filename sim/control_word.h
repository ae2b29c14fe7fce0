// The adapter's control word: a plain read-write register as far as the flash sessions are
// concerned (they save it when they open the flash interface and restore it when they close).
#pragma once

#include <cstdint>

#include "sim/register_block.h"

namespace hlv::sim {

class ControlWord : public RegisterBlock {
 public:
  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override { value_ = 0; }

  uint32_t value() const { return value_; }

 private:
  uint32_t value_ = 0;
};

}  // namespace hlv::sim
