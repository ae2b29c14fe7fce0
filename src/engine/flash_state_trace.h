#pragma once

#include "trace/trace_point.h"

#define HLV_FLASH_STATE_POINTS(X)                                                                \
  X(kRead, 0, "readFlashState")                                                                  \
  X(kNotReady, 1, "readFlashState: flash interface not ready or no memory")                      \
  X(kNoActive, 2, "readFlashState: no valid active block")                                       \
  X(kActive, 3, "readFlashState: block {} active, layout type {}", U32, U32)                     \
  X(kComponentUnreadable, 4, "readFlashState: component {} not read: {}", U8, U32)               \
  X(kComponentCrc, 5, "readFlashState: component {} crc {x}, recorded {x}", U8, U16, U16)        \
  X(kVersionUnreadable, 6, "readFlashState: running version not read: {}", U32)                  \
  X(kRollback, 7, "readFlashState: rollback check {}", U32)
HLV_TRACE_TABLE(flash_state, kComponentEngine, file::kEngineState, HLV_FLASH_STATE_POINTS)
#undef HLV_FLASH_STATE_POINTS
