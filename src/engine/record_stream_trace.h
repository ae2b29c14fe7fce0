#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_RECORD_STREAM_POINTS(X)                                                             \
  X(kPastEnd, 100, "record stream: word at {x} passes the stream of {x} bytes", U32, U32)       \
  X(kOtherFirstType, 101, "record stream: first word {x} is no section of this format", U32)    \
  X(kSection, 102, "record stream: section type {} argument {x}, {} optional words", U32, U32,  \
    U32)                                                                                        \
  X(kGroup, 103, "record stream: group argument {x}, {} entries", U32, U32)                     \
  X(kOtherSection, 104, "record stream: section of type {} ends a stream of type {}", U32, U32) \
  X(kBadWord, 105, "record stream: word {x} at {x} is neither end, section nor group", U32,     \
    U32)                                                                                        \
  X(kVisitorFailed, 106, "record stream: entry {x} refused", U32)                               \
  X(kVisitorStopped, 107, "record stream: stopped at entry {x}", U32)                           \
  X(kEnded, 108, "record stream: ended after {x} bytes", U32)                                   \
  X(kIndexSkipped, 109, "patch entry for word {x} lies outside the settings block", U32)
// clang-format on
HLV_TRACE_TABLE(record_stream, kComponentEngine, file::kEngineFurther, HLV_RECORD_STREAM_POINTS)
#undef HLV_RECORD_STREAM_POINTS
