// What the fuzz targets share: the input split into pieces, and a private scratch directory for
// the parsers that read files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace hlv::fuzz {

// The input as text, cut at each zero byte into at most `count` pieces (the last takes the
// rest; missing ones are empty).
std::vector<std::string> splitPieces(std::span<const uint8_t> input, std::size_t count);

// A directory of this process's own, made on first use (in /dev/shm when it exists).
const std::string& scratchDirectory();

// Writes the bytes to the file at path, replacing it.
void writeWholeFile(const std::string& path, std::string_view bytes);

}  // namespace hlv::fuzz
