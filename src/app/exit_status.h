// Every exit status of the program, and the results that become one: the session's, the update
// and rollback procedures', and the backup's. A failed update or rollback ends the program with
// its procedure's result, which is one of these or a status of the flash update engine. The
// numbers, their names and their meanings are rows of the status table (shared/status_table.h).
#pragma once

#include <cstdint>

#include "shared/status_table.h"

namespace hlv {

// Returned by the program's entry.
inline constexpr int kExitHelpShown = 0;
// Not root, command line rejected, confirmation refused or input ended, no tool directory.
// The shell sees it as 255.
inline constexpr int kExitFailure = -1;
// An interrupt after the confirmation ends the process with this status.
inline constexpr int kExitInterrupted = 41;

namespace exit_status_rows {
HLV_EXIT_STATUSES(HLV_STATUS_CONSTANT)
}  // namespace exit_status_rows
static_assert(kExitHelpShown == exit_status_rows::kExitHelpShown &&
              static_cast<uint8_t>(kExitFailure) == exit_status_rows::kExitFailure &&
              kExitInterrupted == exit_status_rows::kExitInterrupted);

// Results of the update session; each one is also the process exit status. The operator's quit
// (41) is also the status after an interrupt.
HLV_SESSION_STATUSES(HLV_STATUS_CONSTANT)

// Results of one adapter's update (otherwise a backup status or the engine's).
HLV_UPDATE_STATUSES(HLV_STATUS_CONSTANT)

// Results of a rollback (otherwise a backup status or the engine's).
HLV_ROLLBACK_STATUSES(HLV_STATUS_CONSTANT)

// Results of the backup before an update or a rollback; the flash is untouched after any.
HLV_BACKUP_STATUSES(HLV_STATUS_CONSTANT)
// The earlier name of kBackupFlashNotRead, which is given for every failure to read the flash
// (no ready update interface, its size not read or 0, no memory, the read itself), not only
// for the missing interface.
inline constexpr uint32_t kBackupNoUpdateInterface = kBackupFlashNotRead;

}  // namespace hlv
