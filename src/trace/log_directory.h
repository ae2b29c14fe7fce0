// The per-run log directory: <base>/logs/<YYYYmmdd_HH-MM-SS>/.
#pragma once

#include <string>

namespace hlv::trace {

// Makes base + "logs/" and the run's time-stamped directory in it (existing directories are
// accepted) and returns the latter, ending in "/"; empty on failure, with errno set.
std::string makeLogDirectory(const std::string& baseDirectory);

}  // namespace hlv::trace
