// Small file and text helpers for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hlv::test {

// Writes the file, creating its parent directories.
void writeFile(const std::string& path, const std::string& contents);
void writeBinaryFile(const std::string& path, const std::vector<uint8_t>& contents);
std::string readFile(const std::string& path);
std::vector<uint8_t> readBinaryFile(const std::string& path);
bool fileExists(const std::string& path);

// How many times `part` stands in `text` (overlapping places counted too).
std::size_t occurrences(const std::string& text, const std::string& part);

}  // namespace hlv::test
