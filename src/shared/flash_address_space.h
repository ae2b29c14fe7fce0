// How far the tool reaches into a flash part: every read, program and erase sends three address
// bytes, so no part larger than 16 MiB can be used without its addresses wrapping around. An
// image file larger than this can never be written and is refused before it is read.
#pragma once

#include <cstdint>

namespace hlv {

inline constexpr uint32_t kLargestFlashSize = 1u << 24;

}  // namespace hlv
