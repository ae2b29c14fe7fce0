// Turns a binary trace file back into readable lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hlv::trace {

struct DecodeResult {
  std::vector<std::string> lines;  // one per complete, known record
  bool ok = true;
  std::string error;  // why decoding stopped, when not ok
};

// Decodes records until the end of the data. A record whose identifiers no table declares, or
// that ends early or carries an argument of the wrong size, stops the decoding: a reader cannot
// know where the next record would start.
DecodeResult decodeTrace(std::span<const uint8_t> data);

// The message with "{}" and "{x}" replaced by the argument texts; extra arguments are appended.
std::string renderMessage(const char* message, const std::vector<std::string>& decimal,
                          const std::vector<std::string>& hex);

}  // namespace hlv::trace
