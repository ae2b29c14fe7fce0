#pragma once

#include "trace/trace_point.h"

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
