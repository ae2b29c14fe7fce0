// The flash a successful update leaves behind, computed the plain way: straight from the rules
// of the layout, byte by byte on a copy of the flash, with none of the engine's code. Tests
// compare the engine's result with it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace hlv::test {

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
