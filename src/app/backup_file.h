// The copy of an adapter's whole flash that is saved before it is changed.
#pragma once

#include <cstdint>
#include <string>

#include "app/adapter_entry.h"
#include "app/exit_status.h"
#include "shared/sha256.h"
#include "trace/log_directory.h"

namespace hlv {

// What a backup saved: its path, its file name in the run's directory, its size and the SHA-256
// of its bytes.
struct SavedBackup {
  std::string path;
  std::string fileName;
  Sha256Digest digest{};
  uint64_t size = 0;
};

// Saves the flash to the file "image_" + name (blanks as "_") + suffix + ".bin" in the run's log
// directory; suffix may be null. 0 only when the whole flash is in the file and on stable
// storage, otherwise a kBackup... status; on 0, `saved` (when given) says what was saved. When
// that name is taken (adapters without a network
// interface are all named "unknown"), the backup goes to the first free name of "..._2.bin",
// "..._3.bin", ...: an earlier backup is never overwritten.
uint32_t backupAdapterImage(const AdapterEntry& entry, const trace::LogDirectory& directory,
                            const char* suffix, SavedBackup* saved = nullptr);

// The file holds exactly the flash contents from offset 0, nothing added. It is created new in
// the run's directory (mode 0600, never through a link) under its name with ".incomplete" added,
// and given `name` (or, when that is taken, its first free numbered variant) only once it is
// whole and on the disk. Success only once the file, the run's directory and the ones
// above it are flushed to disk; a backup that fails after its file was created (a full disk, a
// failed flush) is removed, so that no file that looks like a backup holds less than the flash.
// Nothing is printed.
uint32_t writeBackupFile(const AdapterEntry& entry, const trace::LogDirectory& directory,
                         const std::string& name, SavedBackup* saved = nullptr);

}  // namespace hlv
