// The copy of an adapter's whole flash that is saved before it is changed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/adapter_entry.h"
#include "app/exit_status.h"
#include "trace/log_directory.h"

namespace hlv {

// Saves the flash to the file "image_" + name (blanks as "_") + suffix + ".bin" in the run's log
// directory; suffix may be null. 0 only when the whole flash is in the file and on stable
// storage, otherwise a kBackup... status. When that name is taken (adapters without a network
// interface are all named "unknown"), the backup goes to the first free name of "..._2.bin",
// "..._3.bin", ...: an earlier backup is never overwritten.
uint32_t backupAdapterImage(const AdapterEntry& entry, const trace::LogDirectory& directory,
                            const char* suffix);

// The file holds exactly the flash contents from offset 0, nothing added. It is created new in
// the run's directory (mode 0600, never through a link), at `name` or, when that is taken, at its
// first free numbered variant. Success only once the file, the run's directory and the ones
// above it are flushed to disk; a backup that fails after its file was created (a full disk, a
// failed flush) is removed, so that no file that looks like a backup holds less than the flash.
// Nothing is printed.
uint32_t writeBackupFile(const AdapterEntry& entry, const trace::LogDirectory& directory,
                         const std::string& name);

// A backup saved before an earlier rollback that can finish it, with what it restores.
struct RollbackBackup {
  std::string path;
  std::vector<uint8_t> bytes;  // the whole flash as it was before that rollback
  FirmwareVersion previousVersion;
};

// A rollback cut short while it rewrote the previous block's first sector leaves the adapter
// without a previous firmware its flash describes; the backup that rollback saved first still
// holds the block. Looks for it among the run directories of the logs (the parent of
// logDirectory), newest name first: in each, "image_" + name (blanks as "_") + "_rollback" +
// ".bin" and its numbered variants, newest first. The run's own directory counts as well (this
// run has saved nothing in it yet). Files are outside input: one whose size is not the flash's is
// never read, and the first that the adapter's update interface accepts for this flash is taken.
// None when no file qualifies or the adapter has no ready update interface.
std::optional<RollbackBackup> findRollbackBackup(const AdapterEntry& entry,
                                                 const std::string& logDirectory);

}  // namespace hlv
