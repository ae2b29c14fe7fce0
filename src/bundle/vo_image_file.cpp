#include "bundle/vo_image_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <new>

#include "bundle/vo_image_file_trace.h"

namespace hlv {
namespace tp = trace_points::vo_image_file;
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

VoImageFile::VoImageFile(const std::string& path) {
  trace::emit(tp::kReading, path);
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    trace::emit(tp::kOpenFailed);
    return;
  }
  // A directory opens for reading too, and its end lies at the largest file position: it would
  // be taken for a file of 4 GiB. Only a regular file is an image.
  struct stat status {};
  if (fstat(fileno(file.get()), &status) != 0 || !S_ISREG(status.st_mode)) {
    trace::emit(tp::kNotRegularFile);
    return;
  }
  if (std::fseek(file.get(), 0, SEEK_END) != 0) {
    trace::emit(tp::kReadFailed);
    return;
  }
  const long position = std::ftell(file.get());
  if (position < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
    trace::emit(tp::kReadFailed);
    return;
  }
  // The length is kept modulo 2^32, as the size field holds it.
  const auto length = static_cast<uint32_t>(static_cast<unsigned long>(position));
  if (length == 0) {
    trace::emit(tp::kEmpty, uint32_t{0});
    return;
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]());
  if (!buffer) {
    trace::emit(tp::kNoMemory);
    return;
  }
  if (std::fread(buffer.get(), 1, length, file.get()) != length || std::ferror(file.get()) != 0) {
    trace::emit(tp::kReadFailed);
    return;
  }
  trace::emit(tp::kRead, length);
  data_ = std::move(buffer);
  size_ = length;
  const std::string::size_type slash = path.rfind('/');
  fileName_ = slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace hlv
