// printf-style formatting into a byte string.
#pragma once

#include <string>

namespace hlv {

// The formatted text followed by one NUL character, which stays part of the string's length:
// formatString("%s", "") has length 1. Column widths computed from these strings count it.
// An encoding error yields an empty string and a trace record.
std::string formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace hlv
