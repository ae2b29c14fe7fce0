// Escaping of byte strings for the companion programs' outputs. Texts read from
// trace files, sysfs or file names are bytes, not necessarily UTF-8; the outputs must stay
// valid whatever they hold.
#pragma once

#include <string>
#include <string_view>

namespace hlv::tool {

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// Text for XML element content and attribute values: the five special characters as entities,
// characters XML does not allow (controls other than tab, line feed and carriage return,
// U+FFFE, U+FFFF) and malformed UTF-8 bytes as U+FFFD.
std::string xmlText(std::string_view bytes);

// Two lower-case hexadecimal digits per byte.
std::string hexBytes(std::string_view bytes);

}  // namespace hlv::tool
