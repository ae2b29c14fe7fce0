#include "shared/firmware_version.h"

#include <cinttypes>
#include <cstdio>

namespace hlv {

std::string FirmwareVersion::toString() const {
  char text[3 * 10 + 3];
  std::snprintf(text, sizeof text, "%" PRIu32 ".%" PRIu32 ".%" PRIu32, major, minor, build);
  return text;
}

}  // namespace hlv
