#include "app/backup_file.h"

#include "app/backup_file_trace.h"

namespace hlv {
namespace tp = trace_points::backup_file;

uint32_t backupAdapterImage(const AdapterEntry& entry, const std::string& directory,
                            const char* suffix) {
  (void)directory;
  (void)suffix;
  trace::emit(tp::kBackupStarted, entry.index);
  // The flash can only be read through the adapter update interface, which is not part of the
  // program yet.
  trace::emit(tp::kBackupFailed, entry.index, kBackupNoUpdateInterface);
  return kBackupNoUpdateInterface;
}

}  // namespace hlv
