#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_FLASH_ACCESS_POINTS(X)                                                                 \
  X(kReadAttemptFailed, 0, "readFlash: attempt {} at {x} for {x} bytes failed, {x} read", U32,    \
    U32, U32, U32)                                                                                \
  X(kReadFailed, 1, "readFlash: {x} bytes at {x} could not be read", U32, U32)                    \
  X(kReadOutsidePart, 2, "readFlash: {x} bytes at {x} pass the end of the part ({x} bytes)", U32, \
    U32, U32)                                                                                     \
  X(kWriteDone, 3, "writeFlash: {x} bytes programmed at {x}", U32, U32)                           \
  X(kWriteFailed, 4, "writeFlash: programming {x} bytes at {x} failed, {x} written", U32, U32,    \
    U32)                                                                                          \
  X(kWriteOutsidePart, 5, "writeFlash: {x} bytes at {x} pass the end of the part ({x} bytes)",    \
    U32, U32, U32)                                                                                \
  X(kEraseRange, 6, "eraseRange: start {x} length {x} sector {x} block {x}", U32, U32, U32, U32) \
  X(kEraseAligned, 7, "eraseRange: sectors from {x} to {x}", U32, U32)                            \
  X(kErasePartUnsuitable, 8, "eraseRange: part with sector size {x} and size {x} refused", U32,   \
    U32)                                                                                          \
  X(kEraseOutsidePart, 9, "eraseRange: range up to {x} passes the end of the part ({x} bytes)",   \
    U64, U32)                                                                                     \
  X(kEraseBlocks, 10, "eraseRange: blocks from {x} to {x}", U32, U32)                             \
  X(kEraseBlockFailed, 11, "eraseRange: block erase at {x} failed", U32)                          \
  X(kEraseSectorFailed, 12, "eraseRange: sector erase at {x} failed", U32)                        \
  X(kEraseDone, 13, "eraseRange: {x} bytes erased", U32)                                         \
  X(kRead, 14, "readFlash: {x} bytes at {x}", U32, U32)
// clang-format on
HLV_TRACE_TABLE(flash_access, kComponentEngine, file::kEngineSupport, HLV_FLASH_ACCESS_POINTS)
#undef HLV_FLASH_ACCESS_POINTS
