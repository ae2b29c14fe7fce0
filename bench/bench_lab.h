// The labs the benchmark runs the tool on: N adapters of one flash part, every flash holding
// firmware 1.5.90 in the type-2 layout (or the type-1 layout, which the update first
// transforms), and a bundle that offers each of them firmware 1.6.2. The adapters are of a board
// the tool updates and whose firmware it reloads, so that a silent run does everything an update
// does: backup, update, reload, driver restart.
#pragma once

#include <cstdint>
#include <string>

#include "shared/result.h"

namespace hlv::bench {

struct BenchLab {
  uint32_t jedecId = 0xEF6015;  // 0xEF6015: 2 MiB; 0xC22016: 4 MiB
  uint32_t capacity = 2u << 20;
  unsigned adapters = 1;
  bool typeOneLayout = false;
};

// Writes the lab at root (which must not exist yet).
Result<> writeBenchLab(const std::string& root, const BenchLab& lab);

}  // namespace hlv::bench
