// Formatting shared by hlvimage's reports (info, diff, map): printf into strings, the names of
// block states and versions, and JSON values.
#pragma once

#include <optional>
#include <string>

#include "engine/firmware_version.h"
#include "engine/flash_update_status.h"
#include "shared/halvern_ncb.h"
#include "tools/common/json_output.h"

namespace hlv::image {

// printf into a std::string.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

// "active", "active (0b01)", "deactivated" or "not active".
const char* ncbStateName(NcbState state);

// "major.minor.build", or "unreadable (status N)".
std::string versionText(const std::optional<FirmwareVersion>& version, FlashUpdateStatus status);

// JSON values: a version string or null; a number or null.
tool::Json jsonVersion(const std::optional<FirmwareVersion>& version);
template <class T>
tool::Json jsonNumber(const std::optional<T>& value) {
  return value ? tool::Json(*value) : tool::Json(nullptr);
}

}  // namespace hlv::image
