// Reading an update image, a backup file or a flash dump for hlvimage's reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "shared/result.h"

namespace hlv::image {

struct ImageFile {
  std::vector<uint8_t> contents;  // the file, or its first kMaxExamined bytes
  uint64_t size = 0;              // the file's length
};

// The file, or why it cannot be read.
Result<ImageFile> readImageFile(const std::string& path);

}  // namespace hlv::image
