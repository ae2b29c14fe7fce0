#pragma once

#include "trace/trace_point.h"

// Points 0 to 19 of the program entry's pair; the command line uses 20 to 39 and the tool
// directory 40 to 49.
#define HLV_PROGRAM_ENTRY_POINTS(X)                               \
  X(kProgramStarted, 0, "program started with {} arguments", I32) \
  X(kNotRoot, 1, "real user {} is not root", U32)                 \
  X(kUsageShown, 2, "usage shown, help asked for {}", Bool)       \
  X(kConfirmationAnswer, 3, "confirmation answer {}", Text)       \
  X(kNotConfirmed, 4, "update not confirmed")                     \
  X(kInterruptHandlerInstalled, 5, "interrupt handler installed") \
  X(kNoToolDirectory, 6, "tool directory not found")              \
  X(kSessionResult, 7, "session result {}", U32)                  \
  X(kUnexpectedFailure, 8, "unexpected failure: {}", Text)
HLV_TRACE_TABLE(program_entry, kComponentApp, file::kProgramEntry, HLV_PROGRAM_ENTRY_POINTS)
#undef HLV_PROGRAM_ENTRY_POINTS
