#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_TYPE1_TRANSFORM_POINTS(X)                                                              \
  X(kNoActiveNcb, 300, "transform: no block is active")                                           \
  X(kPlan, 301, "transform: row {}, SRC block {}, DST block {}", U8, U32, U32)                    \
  X(kNcb1Invalid, 302, "transform: NCB1, taken as it stands, fails validation with {}", U32)      \
  X(kOverlap, 303, "transform: the source's regions overlap")                                     \
  X(kFreeAreaOverReader, 304,                                                                     \
    "transform: component {} of the block readers take overlaps the free area at {x} size {x}",  \
    U8, U32, U32)                                                                                 \
  X(kFreeAreaTooSmall, 305, "transform: free area of {x} bytes, {x} required", U32, U32)          \
  X(kAcrossBanks, 306, "transform: free area at {x} with {x} bytes required crosses the banks",   \
    U32, U32)                                                                                     \
  X(kOutsideTargetBank, 307, "transform: free area at {x} size {x} not inside the bank at {x}",   \
    U32, U32, U32)                                                                                \
  X(kUsableTooSmall, 308, "transform: whole sectors {x} to {x} hold less than {x} bytes", U32,    \
    U32, U32)                                                                                     \
  X(kRequirementsMet, 309, "transform: erase {x} for {x} bytes, {x} required", U32, U32, U32)     \
  X(kRequirementsFailed, 310, "transform: requirements not met, status {}", U32)                  \
  X(kDuplicateFailed, 311, "transform: writing the duplicate, try {}, gave {}", U32, U32)         \
  X(kDuplicateNotWritten, 312, "transform: duplicate at {x} not written, status {}", U32, U32)    \
  X(kAttemptFailed, 313, "transform: relocation attempt {} failed with {}", U32, U32)             \
  X(kErasedTooLittle, 314, "transform: {x} bytes erased, {x} required", U32, U32)                 \
  X(kTargetNotCleared, 315, "transform: target block at {x} not erased, free area left alone",    \
    U32)                                                                                          \
  X(kRelocationFailed, 316, "transform: relocation failed with {}", U32)                          \
  X(kDeactivateFailed, 317, "transform: deactivating the source, try {}, gave {}", U32, U32)      \
  X(kDone, 318, "transform: block at {x} active over its own bank", U32)
// clang-format on
HLV_TRACE_TABLE(type1_transform, kComponentEngine, file::kEngine, HLV_TYPE1_TRANSFORM_POINTS)
#undef HLV_TYPE1_TRANSFORM_POINTS
