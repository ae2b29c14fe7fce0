// The tool's version, as its banner and its run report give it.
#pragma once

namespace hlv {

inline constexpr unsigned kVersionMajor = 1;
inline constexpr unsigned kVersionMinor = 8;
inline constexpr unsigned kVersionBuild = 0;

}  // namespace hlv
