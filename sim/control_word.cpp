#include "sim/control_word.h"

#include "device/register_map.h"

namespace hlv::sim {

bool ControlWord::claims(uint32_t offset) const {
  return offset == reg::kControlWord;
}

uint32_t ControlWord::read(uint32_t /*offset*/) {
  return value_;
}

void ControlWord::write(uint32_t /*offset*/, uint32_t value) {
  value_ = value;
}

}  // namespace hlv::sim
