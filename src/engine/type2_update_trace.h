#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_TYPE2_UPDATE_POINTS(X)                                                                 \
  X(kStart, 255, "type2PerformUpdate: active block at {x}, new block at {x}, bank at {x}", U32,   \
    U32, U32)                                                                                     \
  X(kBuildFailed, 256, "type2PerformUpdate: the new block cannot be built")                       \
  X(kAttemptFailed, 257, "type2PerformUpdate: attempt {} failed with {}", U32, U32)               \
  X(kNewNcbNotCleared, 258, "type2PerformUpdate: new block at {x} not erased, bank left alone",    \
    U32)                                                                                          \
  X(kFailed, 259, "type2PerformUpdate: new firmware not activated, status {}", U32)               \
  X(kDeactivateFailed, 260, "type2PerformUpdate: deactivating the old block, try {}, gave {}",    \
    U32, U32)                                                                                     \
  X(kDone, 261, "type2PerformUpdate: block at {x} active, old block deactivated", U32)
// clang-format on
HLV_TRACE_TABLE(type2_update, kComponentEngine, file::kEngine, HLV_TYPE2_UPDATE_POINTS)
#undef HLV_TYPE2_UPDATE_POINTS
