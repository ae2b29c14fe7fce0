#include "platform/directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace hlv::platform {
namespace {

constexpr mode_t kPrivateDirectoryMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;

std::string withSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string because(const char* what, int error) {
  return std::string(what) + ": " + std::strerror(error);
}

// Says what an open asking for a directory, without following a link, found instead. Such an
// open reports a link as "not a directory": what is there is looked at without following it.
void describeRefusedOpen(int parent, const std::string& name, int error, FileProblem& problem) {
  struct stat status {};
  if ((error == ENOTDIR || error == ELOOP) &&
      ::fstatat(parent, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(status.st_mode)) {
      problem.error = ELOOP;
      problem.reason = "is a symbolic link";
      return;
    }
    if (!S_ISDIR(status.st_mode)) {
      problem.error = ENOTDIR;
      problem.reason = "is not a directory";
      return;
    }
  }
  problem.error = error;
  problem.reason = because("could not be opened", error);
}

void setProblem(FileProblem& problem, int error, std::string path, std::string reason) {
  problem.error = error;
  problem.path = std::move(path);
  problem.reason = std::move(reason);
}

}  // namespace

bool isPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

NewFile::NewFile(int descriptor, std::string path)
    : descriptor_(descriptor), path_(std::move(path)) {}

NewFile::~NewFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

NewFile::NewFile(NewFile&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), path_(std::move(other.path_)) {}

NewFile& NewFile::operator=(NewFile&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

bool NewFile::writeAll(const void* data, std::size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(descriptor_, next, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      // A regular file that takes no byte and reports no error will not take the rest either.
      errno = EIO;
      return false;
    }
    next += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool NewFile::sync() {
  while (::fsync(descriptor_) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

bool NewFile::close() {
  const int descriptor = std::exchange(descriptor_, -1);
  if (descriptor < 0) {
    errno = EBADF;
    return false;
  }
  // Linux releases the descriptor even when close reports EINTR; only other errors say that
  // data was lost.
  return ::close(descriptor) == 0 || errno == EINTR;
}

int NewFile::release() {
  return std::exchange(descriptor_, -1);
}

Directory::Directory(int descriptor, std::string path)
    : descriptor_(descriptor), path_(std::move(path)) {}

Directory::~Directory() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

Directory::Directory(Directory&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), path_(std::move(other.path_)) {}

Directory& Directory::operator=(Directory&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Directory Directory::openAsNamed(const std::string& path, FileProblem& problem) {
  const std::string shown = withSlash(path);
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) {
    const int error = errno;
    setProblem(problem, error, shown,
               error == ENOTDIR ? "is not a directory" : because("could not be opened", error));
    return {};
  }
  return Directory(descriptor, shown);
}

Directory Directory::openChecked(const std::string& name, bool made, FileProblem& problem) const {
  const std::string shown = path_ + name + "/";
  const int descriptor =
      ::openat(descriptor_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) {
    problem.path = shown;
    describeRefusedOpen(descriptor_, name, errno, problem);
    return {};
  }
  Directory opened(descriptor, shown);

  struct stat status {};
  if (::fstat(descriptor, &status) != 0) {
    const int error = errno;
    setProblem(problem, error, shown, because("could not be examined", error));
    return {};
  }
  if (!S_ISDIR(status.st_mode)) {
    setProblem(problem, ENOTDIR, shown, "is not a directory");
    return {};
  }
  // Whoever owns the directory may put anything into it, or change its mode, at any time.
  const uid_t user = ::geteuid();
  if (status.st_uid != user) {
    char reason[96];
    std::snprintf(reason, sizeof reason, "belongs to user %u, not to user %u the program runs as",
                  static_cast<unsigned>(status.st_uid), static_cast<unsigned>(user));
    setProblem(problem, EPERM, shown, reason);
    return {};
  }
  // The umask may have narrowed the mode of the directory just made, or widened it: it is set
  // outright.
  if (made) {
    if (::fchmod(descriptor, kPrivateDirectoryMode) != 0) {
      const int error = errno;
      setProblem(problem, error, shown, because("could not be given mode 0700", error));
      return {};
    }
    status.st_mode = (status.st_mode & ~mode_t{07777}) | kPrivateDirectoryMode;
  }
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char reason[64];
    std::snprintf(reason, sizeof reason, "is writable by group or others (mode %04o)",
                  static_cast<unsigned>(status.st_mode & 07777));
    setProblem(problem, EPERM, shown, reason);
    return {};
  }
  return opened;
}

Directory Directory::openOrMakePrivate(const std::string& name, FileProblem& problem,
                                       bool* created) const {
  if (created != nullptr) *created = false;
  if (!isPlainName(name)) {
    setProblem(problem, EINVAL, path_ + name + "/", "is not a plain name");
    return {};
  }
  bool made = true;
  if (::mkdirat(descriptor_, name.c_str(), kPrivateDirectoryMode) != 0) {
    const int error = errno;
    if (error != EEXIST) {
      setProblem(problem, error, path_ + name + "/", because("could not be made", error));
      return {};
    }
    made = false;
  }
  Directory opened = openChecked(name, made, problem);
  if (created != nullptr) *created = made && opened.isOpen();
  return opened;
}

Directory Directory::makePrivate(const std::string& name, FileProblem& problem) const {
  if (!isPlainName(name)) {
    setProblem(problem, EINVAL, path_ + name + "/", "is not a plain name");
    return {};
  }
  if (::mkdirat(descriptor_, name.c_str(), kPrivateDirectoryMode) != 0) {
    const int error = errno;
    setProblem(problem, error, path_ + name + "/",
               error == EEXIST ? "exists already" : because("could not be made", error));
    return {};
  }
  return openChecked(name, true, problem);
}

NewFile Directory::createFile(const std::string& name, int& error) const {
  if (!isPlainName(name)) {
    error = EINVAL;
    return {};
  }
  const int descriptor =
      ::openat(descriptor_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
               kPrivateFileMode);
  if (descriptor < 0) {
    error = errno;
    return {};
  }
  // The umask may have narrowed the mode; a file no one can read back is no backup.
  if (::fchmod(descriptor, kPrivateFileMode) != 0) {
    error = errno;
    ::close(descriptor);
    ::unlinkat(descriptor_, name.c_str(), 0);
    return {};
  }
  error = 0;
  return NewFile(descriptor, path_ + name);
}

bool Directory::removeFile(const std::string& name) const {
  if (!isPlainName(name)) {
    errno = EINVAL;
    return false;
  }
  return ::unlinkat(descriptor_, name.c_str(), 0) == 0;
}

bool Directory::renameFile(const std::string& from, const std::string& to) const {
  if (!isPlainName(from) || !isPlainName(to)) {
    errno = EINVAL;
    return false;
  }
  return ::renameat(descriptor_, from.c_str(), descriptor_, to.c_str()) == 0;
}

bool Directory::sync() const {
  while (::fsync(descriptor_) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace hlv::platform
