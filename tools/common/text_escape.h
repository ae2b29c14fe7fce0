// Escaping of byte strings for the companion programs' JSON and SVG outputs. Texts read from
// trace files, sysfs or file names are bytes, not necessarily UTF-8; the outputs must stay
// valid whatever they hold.
#pragma once

#include <string>
#include <string_view>

namespace hlv::tool {

// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

// A quoted JSON string: well-formed UTF-8 sequences are kept, quote and backslash are escaped,
// control characters become \n, \t, ... or \u00XX, and every byte that is not part of a
// well-formed sequence becomes U+FFFD (\ufffd).
std::string jsonString(std::string_view bytes);

// Text for XML element content and attribute values: the five special characters as entities,
// characters XML does not allow (controls other than tab, line feed and carriage return,
// U+FFFE, U+FFFF) and malformed UTF-8 bytes as U+FFFD.
std::string xmlText(std::string_view bytes);

// Two lower-case hexadecimal digits per byte.
std::string hexBytes(std::string_view bytes);

}  // namespace hlv::tool
