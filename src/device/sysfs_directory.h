// Listing a sysfs directory the way discovery and driver control both need it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hlv {

// The entry names of a "/sys/..." directory (resolved through the platform), without "." and
// "..", in alphasort order. Nothing when the directory cannot be listed.
std::optional<std::vector<std::string>> listSysfsDirectory(std::string_view absolutePath);

}  // namespace hlv
