#include "tools/hlvimage/report_format.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace hlv::image {

std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, pattern, args);
  va_end(args);
  return text;
}

const char* ncbStateName(NcbState state) {
  switch (state) {
    case NcbState::kDeactivated:
      return "deactivated";
    case NcbState::kActiveAlternate:
      return "active (0b01)";
    case NcbState::kActive:
      return "active";
    case NcbState::kNotActive:
      return "not active";
  }
  return "?";
}

std::string versionText(const std::optional<FirmwareVersion>& version, FlashUpdateStatus status) {
  if (version) return version->toString();
  return format("unreadable (status %" PRIu32 ")", statusNumber(status));
}

tool::Json jsonVersion(const std::optional<FirmwareVersion>& version) {
  return version ? tool::Json(version->toString()) : tool::Json(nullptr);
}

}  // namespace hlv::image
