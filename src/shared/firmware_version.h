// A firmware version as the firmware header carries it: three unsigned numbers, compared major
// first and printed "major.minor.build". One type for the engine's readout, the image files and
// the adapter table.
#pragma once

#include <compare>
#include <cstdint>
#include <string>

namespace hlv {

struct FirmwareVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;

  // Major first, then minor, then build.
  auto operator<=>(const FirmwareVersion&) const = default;
  bool isZero() const { return major == 0 && minor == 0 && build == 0; }
  // "major.minor.build"
  std::string toString() const;
};

}  // namespace hlv
