// One hardware block of the emulated adapter's register window.
#pragma once

#include <cstdint>

namespace hlv::sim {

class RegisterBlock {
 public:
  virtual ~RegisterBlock() = default;
  // True for every register offset this block answers.
  virtual bool claims(uint32_t offset) const = 0;
  virtual uint32_t read(uint32_t offset) = 0;
  virtual void write(uint32_t offset, uint32_t value) = 0;
  // The adapter lost power and got it back: the block starts from its power-on state.
  virtual void powerOn() {}
};

}  // namespace hlv::sim
