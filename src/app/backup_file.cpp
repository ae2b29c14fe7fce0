#include "app/backup_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "app/backup_file_trace.h"
#include "app/progress_line.h"
#include "update/voflupdateiface.h"

namespace hlv {
namespace tp = trace_points::backup_file;
namespace {

// What the flash read answers when the buffer is smaller than the flash.
inline constexpr uint32_t kBufferTooSmall = 8;

// How many names are tried for one backup before it counts as not opened.
inline constexpr unsigned kMaximumNameAttempts = 1000;

// The name for the given attempt: the requested one first, then "_2", "_3", ... before its
// ".bin" (at its end when it has none).
std::string candidateName(const std::string& path, unsigned attempt) {
  if (attempt == 1) return path;
  std::string number = "_";
  number += std::to_string(attempt);
  constexpr std::string_view kExtension = ".bin";
  if (!path.ends_with(kExtension)) return path + number;
  return path.substr(0, path.size() - kExtension.size()) + number + std::string(kExtension);
}

// Creates a new file for the backup: the requested name when it is free, else the first free one
// of its numbered variants. An existing file is never opened, so no earlier backup (of another
// adapter named alike, or of another run in the same second) is ever truncated.
std::FILE* createBackupFile(const std::string& path, std::string& chosen) {
  for (unsigned attempt = 1; attempt <= kMaximumNameAttempts; ++attempt) {
    chosen = candidateName(path, attempt);
    const int fd = open(chosen.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      // Only the tool's user reads a backup, whatever the umask.
      std::FILE* file = fchmod(fd, 0600) == 0 ? fdopen(fd, "wb") : nullptr;
      if (file == nullptr) {
        const int error = errno;
        close(fd);
        unlink(chosen.c_str());
        errno = error;
      }
      return file;
    }
    if (errno != EEXIST) return nullptr;
    trace::emit(tp::kNameTaken, chosen);
  }
  errno = EEXIST;
  return nullptr;
}

// "image_" + the adapter name with its blanks as "_" + the suffix, without ".bin".
std::string backupStem(const AdapterEntry& entry, const char* suffix) {
  std::string name = entry.name();
  for (char& c : name) {
    if (c == ' ') c = '_';
  }
  std::string stem = "image_" + name;
  if (suffix != nullptr) stem += suffix;
  return stem;
}

}  // namespace

uint32_t backupAdapterImage(const AdapterEntry& entry, const std::string& directory,
                            const char* suffix, SavedBackup* saved) {
  const std::string path = directory + backupStem(entry, suffix) + ".bin";
  const uint32_t result = writeBackupFile(entry, path, saved);
  if (result != 0) trace::emit(tp::kBackupFailed, entry.index, result);
  return result;
}

uint32_t writeBackupFile(const AdapterEntry& entry, const std::string& path,
                         SavedBackup* saved) {
  trace::emit(tp::kBackupStarted, entry.index);
  VoFlUpdateIface* updater = entry.readyUpdater();
  if (updater == nullptr) {
    trace::emit(tp::kNoUpdateInterface);
    return kBackupNoUpdateInterface;
  }

  // The size first: a read into no buffer answers with the size it needs.
  uint32_t length = 0;
  const uint32_t query = updater->readFlashContents(nullptr, 0, length);
  if (query == kBufferTooSmall) {
    trace::emit(tp::kFlashSize, length);
  } else if (query != 0) {
    trace::emit(tp::kSizeQueryFailed, query);
    return kBackupNoUpdateInterface;
  }
  // A flash of no bytes cannot be restored from: an empty file is no backup.
  if (length == 0) {
    trace::emit(tp::kEmptyFlash);
    return kBackupNoUpdateInterface;
  }

  const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]());
  if (!buffer) {
    trace::emit(tp::kNoMemory, length);
    return kBackupNoUpdateInterface;
  }
  const uint32_t capacity = length;
  uint32_t read = 0;
  {
    ProgressLine progress(*updater, progressTerminal());
    progress.expectBackup(capacity);
    read = updater->readFlashContents(buffer.get(), capacity, length);
  }
  if (read != 0) {
    trace::emit(tp::kReadFailed, read);
    return kBackupNoUpdateInterface;
  }
  if (length < capacity) {
    trace::emit(tp::kReadShort, length, capacity);
    return kBackupReadShort;
  }

  std::string chosen;
  std::FILE* file = createBackupFile(path, chosen);
  if (file == nullptr) {
    trace::emit(tp::kOpenFailed, chosen, errno);
    return kBackupFileNotOpened;
  }
  // Written data may sit in the stream's buffer until it is flushed or closed; a disk that is
  // full shows only then. The backup counts only when every step succeeded.
  const bool written = std::fwrite(buffer.get(), 1, capacity, file) == capacity &&
                       std::fflush(file) == 0 && std::ferror(file) == 0;
  const int writeError = errno;
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    trace::emit(tp::kWriteFailed, chosen, written ? errno : writeError);
    return kBackupWriteFailed;
  }
  trace::emit(tp::kWritten, chosen);
  if (saved != nullptr) {
    const std::optional<Sha256Digest> digest = sha256({buffer.get(), capacity});
    if (!digest) {
      trace::emit(tp::kDigestFailed, chosen);
      return kBackupWriteFailed;
    }
    saved->path = chosen;
    saved->fileName = chosen.substr(chosen.rfind('/') + 1);
    saved->digest = *digest;
  }
  return 0;
}

}  // namespace hlv
