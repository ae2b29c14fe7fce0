#pragma once

#include "trace/trace_point.h"

#define HLV_VOAPIFLASHCONTROL_POINTS(X)                                                        \
  X(kInitBusy, 0, "init: the flash interface is owned by another object")                      \
  X(kIdentifyFailed, 1, "init: identification failed ({})", U32)                               \
  X(kLoadParamsFailed, 2, "init: no parameters ({})", U32)                                     \
  X(kInitialized, 3, "init: part type {} id {x} page {} sector {} block {} size {}", U32, U32, \
    U16, U32, U32, U32)                                                                        \
  X(kReadFailed, 4, "read failed ({}) of {} bytes", U32, U32)                                  \
  X(kWriteFailed, 5, "write failed ({})", U32)                                                 \
  X(kEraseSectorFailed, 6, "sector erase failed ({}) at {x}", U32, U32)                        \
  X(kEraseBlockFailed, 7, "block erase failed ({}) at {x}", U32, U32)                          \
  X(kBlockEraseUnsupported, 8, "block erase called on part {x} without block erase", U32)      \
  X(kRangeRefused, 9, "request at {x} of {} bytes lies outside the part ({} bytes)", U32, U32, \
    U32)                                                                                       \
  X(kUnalignedErase, 10, "erase at {x} is not at the start of a {}-byte unit", U32, U32)       \
  X(kNoSectorErase, 11, "sector erase at {x}: the part has no small erase", U32)               \
  X(kNotInitialized, 12, "flash operation refused: this object has not been initialised")
HLV_TRACE_TABLE(voapiflashcontrol, kComponentEngine, file::kFlashControl,
                HLV_VOAPIFLASHCONTROL_POINTS)
#undef HLV_VOAPIFLASHCONTROL_POINTS
