#include "app/backup_file.h"

#include <cerrno>
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

// How many names are tried for one backup before it counts as not opened.
inline constexpr unsigned kMaximumNameAttempts = 1000;

// The name for the given attempt: the requested one first, then "_2", "_3", ... before its
// ".bin" (at its end when it has none).
std::string candidateName(const std::string& name, unsigned attempt) {
  if (attempt == 1) return name;
  std::string number = "_";
  number += std::to_string(attempt);
  constexpr std::string_view kExtension = ".bin";
  if (!name.ends_with(kExtension)) return name + number;
  return name.substr(0, name.size() - kExtension.size()) + number + std::string(kExtension);
}

// A backup is written under its name with this added, and takes its name only once it is whole
// and on the disk: a power cut or a kill while it is written leaves no file named like a backup
// that holds less than the flash.
constexpr std::string_view kIncompleteSuffix = ".incomplete";

// Creates a new file for the backup in the run's directory, under the requested name marked
// incomplete, or the first free one of its numbered variants. An existing name is never opened,
// so no other file is ever truncated and no link is followed.
platform::NewFile createBackupFile(const platform::Directory& directory, const std::string& name,
                                   std::string& chosen, int& error) {
  for (unsigned attempt = 1; attempt <= kMaximumNameAttempts; ++attempt) {
    chosen = candidateName(name, attempt) + std::string(kIncompleteSuffix);
    platform::NewFile file = directory.createFile(chosen, error);
    if (file.isOpen() || error != EEXIST) return file;
    trace::emit(tp::kNameTaken, directory.path() + chosen);
  }
  error = EEXIST;
  return {};
}

// Gives the written backup its name: the requested one when it is free, else the first free one
// of its numbered variants; an earlier backup (of another adapter named alike) is never replaced.
bool nameBackup(const platform::Directory& directory, const std::string& incomplete,
                const std::string& name, std::string& chosen) {
  for (unsigned attempt = 1; attempt <= kMaximumNameAttempts; ++attempt) {
    chosen = candidateName(name, attempt);
    if (directory.renameFileNoReplace(incomplete, chosen)) return true;
    if (errno != EEXIST) return false;
    trace::emit(tp::kNameTaken, directory.path() + chosen);
  }
  errno = EEXIST;
  return false;
}

// Removes a backup that failed after its file was made: a file under a backup's name must hold
// the whole flash. The removal is flushed too, so that a power cut does not bring the file back.
void discardBackup(const trace::LogDirectory& directory, const std::string& name) {
  const std::string path = directory.path() + name;
  if (!directory.run().removeFile(name)) {
    trace::emit(tp::kIncompleteNotRemoved, path, errno);
    return;
  }
  trace::emit(tp::kIncompleteRemoved, path);
  if (!directory.run().sync()) trace::emit(tp::kDirectoriesNotSynced, path, errno);
}

// Writes the flash into the new file, flushes it, gives it its name and flushes the directories
// that lead to it. 0, or the trace point that tells what failed, with errno set; `current` is
// the file's name as it stands.
const trace::Point<std::string_view, int32_t>* saveBackup(const trace::LogDirectory& directory,
                                                          platform::NewFile& file,
                                                          const uint8_t* bytes, uint32_t size,
                                                          const std::string& name,
                                                          std::string& current) {
  if (!file.writeAll(bytes, size)) return &tp::kWriteFailed;
  if (!file.sync()) return &tp::kNotSynced;
  if (!file.close()) return &tp::kWriteFailed;
  std::string named;
  if (!nameBackup(directory.run(), current, name, named)) return &tp::kNotNamed;
  current = named;
  if (!directory.syncEntries()) return &tp::kDirectoriesNotSynced;
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

uint32_t backupAdapterImage(const AdapterEntry& entry, const trace::LogDirectory& directory,
                            const char* suffix, SavedBackup* saved) {
  const uint32_t result =
      writeBackupFile(entry, directory, backupStem(entry, suffix) + ".bin", saved);
  if (result != 0) trace::emit(tp::kBackupFailed, entry.index, result);
  return result;
}

uint32_t writeBackupFile(const AdapterEntry& entry, const trace::LogDirectory& directory,
                         const std::string& name, SavedBackup* saved) {
  trace::emit(tp::kBackupStarted, entry.index);
  VoFlUpdateIface* updater = entry.readyUpdater();
  if (updater == nullptr) {
    trace::emit(tp::kNoUpdateInterface);
    return kBackupFlashNotRead;
  }

  // The size first: a read into no buffer answers with the size it needs.
  uint32_t length = 0;
  const uint32_t query = updater->readFlashContents(nullptr, 0, length);
  if (query == kStatusBufferTooSmall) {
    trace::emit(tp::kFlashSize, length);
  } else if (query != 0) {
    trace::emit(tp::kSizeQueryFailed, query);
    return kBackupFlashNotRead;
  }
  // A flash of no bytes cannot be restored from: an empty file is no backup.
  if (length == 0) {
    trace::emit(tp::kEmptyFlash);
    return kBackupFlashNotRead;
  }

  const std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[length]());
  if (!buffer) {
    trace::emit(tp::kNoMemory, length);
    return kBackupFlashNotRead;
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
    return kBackupFlashNotRead;
  }
  if (length < capacity) {
    trace::emit(tp::kReadShort, length, capacity);
    return kBackupReadShort;
  }

  // The digest that a rollback's journal records, taken before anything is written.
  std::optional<Sha256Digest> digest;
  if (saved != nullptr) {
    digest = sha256({buffer.get(), capacity});
    if (!digest) {
      trace::emit(tp::kDigestFailed, capacity);
      return kBackupWriteFailed;
    }
  }

  std::string chosen;
  int error = 0;
  platform::NewFile file = createBackupFile(directory.run(), name, chosen, error);
  if (!file.isOpen()) {
    trace::emit(tp::kOpenFailed, directory.path() + chosen, error);
    return kBackupFileNotOpened;
  }
  // The backup counts only once it is on stable storage together with the directories that lead
  // to it: after a power cut shortly after "[OK]", the flash may already have been rewritten.
  if (const auto* failed = saveBackup(directory, file, buffer.get(), capacity, name, chosen)) {
    trace::emit(*failed, directory.path() + chosen, errno);
    file = {};
    discardBackup(directory, chosen);
    return kBackupWriteFailed;
  }
  const std::string path = directory.path() + chosen;
  trace::emit(tp::kWritten, path);
  if (saved != nullptr) *saved = {path, chosen, *digest, capacity};
  return 0;
}

}  // namespace hlv
