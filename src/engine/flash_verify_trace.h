#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_FLASH_VERIFY_POINTS(X)                                                                 \
  X(kVerify, 200, "verifyFlash: at {x}, {x} bytes", U32, U32)                                      \
  X(kNoMemory, 201, "verifyFlash: no memory for {x} bytes", U32)                                  \
  X(kReadFailed, 202, "verifyFlash: reading at {x}, {x} bytes, gave {}", U32, U32, U32)             \
  X(kDiffers, 203, "verifyFlash: byte at {x} reads {x}, expected {x}", U32, U8, U8)
// clang-format on
HLV_TRACE_TABLE(flash_verify, kComponentEngine, file::kEngineSupport, HLV_FLASH_VERIFY_POINTS)
#undef HLV_FLASH_VERIFY_POINTS
