// The copy of an adapter's whole flash that is saved before it is changed.
#pragma once

#include <cstdint>
#include <string>

#include "app/adapter_entry.h"
#include "app/exit_status.h"
#include "shared/sha256.h"

namespace hlv {

// What a backup saved: its path, its file name in the directory, and the SHA-256 of its bytes.
struct SavedBackup {
  std::string path;
  std::string fileName;
  Sha256Digest digest{};
};

// Saves the flash to directory + "image_" + name (blanks as "_") + suffix + ".bin"; suffix may
// be null. 0 only when the whole flash is in the file, otherwise a kBackup... status; on 0,
// `saved` (when given) says what was saved. When that file exists already (adapters without a
// network interface are all named "unknown"), the backup goes to the first free name of
// "..._2.bin", "..._3.bin", ...: an earlier backup is never overwritten.

uint32_t backupAdapterImage(const AdapterEntry& entry, const std::string& directory,
                            const char* suffix, SavedBackup* saved = nullptr);

// The file holds exactly the flash contents from offset 0, nothing added. It is created new, at
// path or, when path is taken, at its first free numbered variant. Nothing is printed.
uint32_t writeBackupFile(const AdapterEntry& entry, const std::string& path,
                         SavedBackup* saved = nullptr);

}  // namespace hlv
