#pragma once

#include "trace/trace_point.h"

#define HLV_UPDATE_SESSION_POINTS(X)                                                   \
  X(kCreated, 0, "session created for tool directory {}", Text)                        \
  X(kLockNotCreated, 1, "instance lock not created: errno {}", I32)                    \
  X(kAnotherInstance, 2, "another instance of the tool is running")                    \
  X(kLogDirectoryFailed, 3, "log directory not made: errno {}", I32)                   \
  X(kTraceNotStarted, 4, "trace not started")                                          \
  X(kOptions, 5, "options: silent {}, rollback {}, adapter name {}", Bool, Bool, Text) \
  X(kInitialized, 6, "session initialized, log directory {}", Text)                    \
  X(kInitializeFailed, 7, "session initialization failed")                             \
  X(kAdapterListFailed, 8, "adapter list not built: {}", U32)                          \
  X(kRollbackFinished, 9, "rollback finished with {}", U32)                            \
  X(kNoAdapterAvailable, 10, "no adapter can be updated")                              \
  X(kSilentAdapterNotFound, 11, "silent mode: adapter {} not found", Text)             \
  X(kOperatorQuit, 12, "operator quit at the adapter prompt")                          \
  X(kFirstAdapter, 13, "updating from entry {}", U64)                                  \
  X(kEntrySkipped, 14, "entry {} skipped, status {}", U32, U32)                        \
  X(kProcedureFinished, 15, "entry {} update finished with {}", U32, U32)              \
  X(kSummary, 16, "problems {}, result {}", Bool, U32)                                 \
  X(kTeardown, 17, "session teardown")                                                 \
  X(kDriverInstalled, 30, "driver side marked installed (nothing is installed)")       \
  X(kDriverUninstalled, 31, "driver side marked uninstalled, mode {}", U32)
HLV_TRACE_TABLE(update_session, kComponentApp, file::kUpdateSession, HLV_UPDATE_SESSION_POINTS)
#undef HLV_UPDATE_SESSION_POINTS
