// Every exit status of the program, and the results that become one: the session's, the update
// and rollback procedures', and the backup's. A failed update or rollback ends the program with
// its procedure's result, which is one of these or a status of the flash update engine.
#pragma once

#include <cstdint>

namespace hlv {

// Returned by the program's entry.
inline constexpr int kExitHelpShown = 0;
// Not root, command line rejected, confirmation refused or input ended, no tool directory.
// The shell sees it as 255.
inline constexpr int kExitFailure = -1;

// Results of the update session; each one is also the process exit status.
inline constexpr uint32_t kSessionSucceeded = 0;
inline constexpr uint32_t kSessionInitializeFailed = 1;  // lock, second instance, log directory
inline constexpr uint32_t kSessionNoAdapterAvailable = 2;
inline constexpr uint32_t kSessionAdapterNotFound = 3;  // silent mode, -a names no adapter
inline constexpr uint32_t kSessionDatabaseNotLoaded = 9;
inline constexpr uint32_t kSessionOperatorQuit = 41;  // also the status after an interrupt
inline constexpr uint32_t kSessionNoAdapterFound = 42;

// An interrupt after the confirmation ends the process with this status.
inline constexpr int kExitInterrupted = 41;

// Results of one adapter's update (otherwise a backup status or the engine's).
inline constexpr uint32_t kUpdateNotPossible = 3;  // no image, or no usable update interface

// Results of a rollback (otherwise a backup status or the engine's).
inline constexpr uint32_t kRollbackNotPossible = 2;  // the adapter keeps no previous firmware
inline constexpr uint32_t kRollbackAborted = 41;     // not confirmed, or quit at the prompt

// Results of the backup before an update or a rollback; the flash is untouched after any.
// No update interface, not ready, a flash of size 0, or the flash read failed.
inline constexpr uint32_t kBackupNoUpdateInterface = 4;
inline constexpr uint32_t kBackupFileNotOpened = 6;
inline constexpr uint32_t kBackupWriteFailed = 13;  // also when flushing or closing fails
inline constexpr uint32_t kBackupReadShort = 15;    // fewer bytes than the flash size announced

}  // namespace hlv
