// The program's exit statuses and the session results that become them.
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

}  // namespace hlv
