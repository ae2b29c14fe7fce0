#include "tools/hlvimage/image_file.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "tools/hlvimage/image_report.h"

namespace hlv::image {

Result<ImageFile> readImageFile(const std::string& path) {
  std::error_code code;
  ImageFile file;
  file.size = std::filesystem::file_size(path, code);
  if (code) {
    return fail("cannot read '" + path + "': " + code.message());
  }
  std::ifstream in(path, std::ios::binary);
  file.contents.resize(std::min<uint64_t>(file.size, kMaxExamined));
  if (!in || !in.read(reinterpret_cast<char*>(file.contents.data()),
                      static_cast<std::streamsize>(file.contents.size()))) {
    return fail("cannot read '" + path + "'");
  }
  return file;
}

}  // namespace hlv::image
