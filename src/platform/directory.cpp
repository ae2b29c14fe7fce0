#include "platform/directory.h"

#include <dirent.h>
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

Directory Directory::openExisting(const std::string& name, FileProblem& problem) const {
  if (!isPlainName(name)) {
    setProblem(problem, EINVAL, path_ + name + "/", "is not a plain name");
    return {};
  }
  return openChecked(name, false, problem);
}

bool Directory::list(std::vector<std::string>& names) const {
  // The listing reads through a descriptor of its own, so that this one stays as it is.
  const int descriptor = ::openat(descriptor_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return false;
  DIR* listing = ::fdopendir(descriptor);
  if (listing == nullptr) {
    const int error = errno;
    ::close(descriptor);
    errno = error;
    return false;
  }
  names.clear();
  errno = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  const int error = errno;
  ::closedir(listing);
  errno = error;
  return error == 0;
}

bool Directory::readOwnFile(const std::string& name, uint64_t maximumSize,
                            std::vector<uint8_t>& bytes, FileProblem& problem) const {
  const std::string shown = path_ + name;
  if (!isPlainName(name)) {
    setProblem(problem, EINVAL, shown, "is not a plain name");
    return false;
  }
  const int descriptor =
      ::openat(descriptor_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    const int error = errno;
    setProblem(problem, error, shown,
               error == ELOOP ? "is a symbolic link" : because("could not be opened", error));
    return false;
  }
  struct stat status {};
  const bool examined = ::fstat(descriptor, &status) == 0;
  const int statError = errno;
  const auto refuse = [&](int error, std::string reason) {
    ::close(descriptor);
    setProblem(problem, error, shown, std::move(reason));
    return false;
  };
  if (!examined) return refuse(statError, because("could not be examined", statError));
  if (!S_ISREG(status.st_mode)) return refuse(EINVAL, "is not a regular file");
  if (status.st_uid != ::geteuid()) {
    char reason[64];
    std::snprintf(reason, sizeof reason, "belongs to user %u", static_cast<unsigned>(status.st_uid));
    return refuse(EPERM, reason);
  }
  if ((status.st_mode & 07777) != kPrivateFileMode) {
    char reason[64];
    std::snprintf(reason, sizeof reason, "has mode %04o, not 0600",
                  static_cast<unsigned>(status.st_mode & 07777));
    return refuse(EPERM, reason);
  }
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (size > maximumSize) return refuse(EFBIG, "is longer than it may be");
  bytes.assign(static_cast<std::size_t>(size), 0);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        ::pread(descriptor, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const int error = got < 0 ? errno : EIO;
      bytes.clear();
      return refuse(error, because("could not be read whole", error));
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(descriptor);
  return true;
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

bool Directory::renameFileNoReplace(const std::string& from, const std::string& to) const {
  if (!isPlainName(from) || !isPlainName(to)) {
    errno = EINVAL;
    return false;
  }
  if (::renameat2(descriptor_, from.c_str(), descriptor_, to.c_str(), RENAME_NOREPLACE) == 0)
    return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: a second link, which is never made over an existing name,
  // then the first one removed.
  if (::linkat(descriptor_, from.c_str(), descriptor_, to.c_str(), 0) != 0) return false;
  if (::unlinkat(descriptor_, from.c_str(), 0) != 0) {
    const int error = errno;
    ::unlinkat(descriptor_, to.c_str(), 0);
    errno = error;
    return false;
  }
  return true;
}

bool Directory::sync() const {
  while (::fsync(descriptor_) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace hlv::platform
