#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_COMPONENT_COPY_POINTS(X)                                                              \
  X(kCopy, 100, "copy of {}: to {x}, part sizes {x} and {x}", Text, U32, U32, U32)                \
  X(kPlacementOutside, 101, "copy of {}: placement up to {x} passes the flash layout", Text, U64) \
  X(kNoMemory, 102, "copy of {}: no memory for {x} bytes", Text, U32)                             \
  X(kReadFailed, 103, "copy of {}: reading part {} gave {}", Text, U32, U32)                      \
  X(kCrcMismatch, 104, "copy of {}: computed CRC {x}, recorded {x}", Text, U16, U16)              \
  X(kWriteFailed, 105, "copy of {}: writing part {} at {x} gave {}", Text, U32, U32, U32)         \
  X(kCopied, 106, "copy of {}: done, cursor now {x}", Text, U32)                                 \
  X(kVerifyFailed, 107, "copy of {}: part {} at {x} reads back wrong, {}", Text, U32, U32, U32) \
  X(kPlacing, 108, "placing {}: from {x}, {} parts", Text, U32, U32)
// clang-format on
HLV_TRACE_TABLE(component_copy, kComponentEngine, file::kEngineSupport, HLV_COMPONENT_COPY_POINTS)
#undef HLV_COMPONENT_COPY_POINTS
