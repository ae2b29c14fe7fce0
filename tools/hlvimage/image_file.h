// Reading an update image, a backup file or a flash dump for hlvimage's reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hlv::image {

struct ImageFile {
  std::vector<uint8_t> contents;  // the file, or its first kMaxExamined bytes
  uint64_t size = 0;              // the file's length
};

// The file, or nothing with `error` saying why it cannot be read.
std::optional<ImageFile> readImageFile(const std::string& path, std::string& error);

}  // namespace hlv::image
