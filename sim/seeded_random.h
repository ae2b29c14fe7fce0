// Pseudo-random numbers for the emulator's seeded behaviour (busy-time jitter, torn writes): a
// fixed sequence for each seed (splitmix64), so that a run can be repeated exactly.
#pragma once

#include <cstdint>

namespace hlv::sim {

class SeededRandom {
 public:
  explicit SeededRandom(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // A number from 0 to bound - 1; bound must not be 0.
  uint64_t below(uint64_t bound) { return next() % bound; }

 private:
  uint64_t state_;
};

}  // namespace hlv::sim
