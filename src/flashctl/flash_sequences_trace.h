#pragma once

#include "trace/trace_point.h"

#define HLV_FLASH_SEQUENCES_POINTS(X)                                                       \
  X(kReadWordTimeout, 40, "read: command engine stuck after {} of {} bytes", U32, U32)      \
  X(kReadLastWordTimeout, 41, "read: command engine stuck on the last word at {x}", U32)    \
  X(kProgramWordTimeout, 42, "program: command engine stuck at {x}", U32)                   \
  X(kProgramNotReady, 43, "program: part not ready ({}) before the chunk at {x}", U32, U32) \
  X(kUnprotectFailed, 44, "erase: unprotect step failed ({})", U32)                         \
  X(kEraseFailed, 45, "erase {x} at {x} failed ({})", U16, U32, U32)                        \
  X(kSplitUnitErase, 46, "erase {x} of the split first unit: second half at {x}", U16, U32) \
  X(kStatusAlreadyClear, 47, "erase: status {x} already as written: no status write", U16)  \
  X(kStatusToClear, 48, "erase: status {x}: the status is written", U16)                   \
  X(kProgramUnprotects, 49, "program: status {x} before the chunk at {x}: protected, written", \
    U16, U32)
HLV_TRACE_TABLE(flash_sequences, kComponentEngine, file::kFlashControl, HLV_FLASH_SEQUENCES_POINTS)
#undef HLV_FLASH_SEQUENCES_POINTS
