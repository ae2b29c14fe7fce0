// The flash a successful update leaves behind, computed the plain way: straight from the rules
// of the layout, byte by byte on a copy of the flash, with none of the engine's code. Tests
// compare the engine's result with it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/firmware_version.h"

namespace hlv::test {

// What a reader of the flash finds: the block it takes (NCB0 when active, else NCB1 when
// active), whether that block is whole (its CRC holds over its size) and every component it
// describes lies in the flash and matches its CRC, and the firmware version in MAC part 2.
// Judged from the layout's rules alone, with none of the engine's code, for flashes laid out by
// the tests' image builder (the firmware header at the start of MAC part 2, no patch records).
struct FlashReading {
  bool usable = false;
  std::string problem;  // why not, when not usable
  uint32_t activeAddress = 0;
  FirmwareVersion version;
};
FlashReading readAsReader(std::span<const uint8_t> flash);
// The same checks of the block at `blockAddress` (NCB0 or NCB1), whatever its state says.
FlashReading readBlockAsReader(std::span<const uint8_t> flash, uint32_t blockAddress);

struct ReferenceGeometry {
  uint32_t pageSize = 256;
  uint32_t sectorSize = 0x1000;
};

// The flash after a successful update with `image`, whose new block gets the given areaD and
// areaE contents (the configuration areas as the update builds them). A flash in the type-1
// layout is transformed first. Components absent in a source block are not expected.
std::vector<uint8_t> referenceUpdate(std::vector<uint8_t> flash, std::span<const uint8_t> image,
                                     std::span<const uint8_t> areaD, std::span<const uint8_t> areaE,
                                     const ReferenceGeometry& geometry = {});

// The flash after a successful rollback: the block readers do not take (NCB1 when NCB0 is
// active, else NCB0) is active (state 0b10) and the other one deactivated (0b00); no other byte
// changes.
std::vector<uint8_t> referenceRollback(std::vector<uint8_t> flash);

}  // namespace hlv::test
