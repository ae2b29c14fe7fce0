// Bytes written as hexadecimal digits: the database's configuration bytes, the emulator's
// digests and the companion programs' command lines all use this one form.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace hlv {

// "A1b2" gives the bytes A1 B2: two digits per byte, high digit first, either letter case,
// nothing else (no blank, no "0x"). Nothing for an odd number of digits or any other character.
std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view digits);

}  // namespace hlv
