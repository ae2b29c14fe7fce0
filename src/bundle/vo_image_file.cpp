#include "bundle/vo_image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <new>

#include "bundle/vo_image_file_trace.h"
#include "shared/flash_address_space.h"

namespace hlv {
namespace tp = trace_points::vo_image_file;
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Opens the file for reading without waiting: a named pipe in its place would otherwise hold
// the run until something writes into it. Null when it cannot be opened.
std::FILE* openWithoutWaiting(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) close(fd);
  return file;
}

}  // namespace

VoImageFile::VoImageFile(const std::string& path) {
  trace::emit(tp::kReading, path);
  const std::unique_ptr<std::FILE, FileCloser> file(openWithoutWaiting(path));
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
  // A file longer than any flash the tool can write is no image, and its length would not fit
  // the size field: a file of 4 GiB and 2 MiB would pass as its first 2 MiB.
  if (static_cast<unsigned long>(position) > kLargestFlashSize) {
    trace::emit(tp::kTooLong, static_cast<uint64_t>(position), kLargestFlashSize);
    return;
  }
  const auto length = static_cast<uint32_t>(position);
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
