#include "sim/mapped_flash_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace hlv::sim {
namespace {

std::string errnoText() {
  return std::strerror(errno);
}

// Closes the descriptor when it goes out of scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

Result<MappedFlashFile> MappedFlashFile::map(const std::string& path, uint32_t size) {
  int opened = open(path.c_str(), O_RDWR | O_CLOEXEC);
  bool created = false;
  if (opened < 0 && errno == ENOENT) {
    opened = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    created = opened >= 0;
  }
  if (opened < 0) return fail(path + ": cannot open: " + errnoText());
  const FileDescriptor fd(opened);
  if (created) {
    // A new part comes erased.
    const std::vector<uint8_t> erased(size, 0xFF);
    if (write(fd.get(), erased.data(), erased.size()) != static_cast<ssize_t>(erased.size())) {
      return fail(path + ": cannot create: " + errnoText());
    }
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) return fail(path + ": cannot examine: " + errnoText());
  if (static_cast<uint64_t>(info.st_size) != size) {
    return fail(path + ": size " + std::to_string(info.st_size) +
                " differs from the capacity of the configured part (" + std::to_string(size) +
                " bytes)");
  }
  void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
  if (mapping == MAP_FAILED) return fail(path + ": cannot map: " + errnoText());
  return MappedFlashFile({static_cast<uint8_t*>(mapping), size});
}

MappedFlashFile::MappedFlashFile(MappedFlashFile&& other) noexcept
    : bytes_(std::exchange(other.bytes_, {})) {}

MappedFlashFile& MappedFlashFile::operator=(MappedFlashFile&& other) noexcept {
  if (this != &other) {
    unmap();
    bytes_ = std::exchange(other.bytes_, {});
  }
  return *this;
}

MappedFlashFile::~MappedFlashFile() {
  unmap();
}

void MappedFlashFile::unmap() {
  if (bytes_.data() != nullptr) munmap(bytes_.data(), bytes_.size());
  bytes_ = {};
}

}  // namespace hlv::sim
