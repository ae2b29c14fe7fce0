#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_NEW_NCB_POINTS(X)                                                                      \
  X(kBuild, 230, "buildNewNcb: block at {x}, areaD {x} bytes, areaE {x} bytes", U32, U16, U16)    \
  X(kAreaTooLong, 231, "buildNewNcb: area {} would end at {x}, past {x}", U8, U32, U32)           \
  X(kSourceAreaOutside, 232, "buildNewNcb: active area {} at {x} length {x} outside its block",   \
    U8, U32, U32)                                                                                 \
  X(kAreaCShared, 233, "buildNewNcb: areaC shares offset {x} with areaB, dropped", U16)           \
  X(kBuilt, 234, "buildNewNcb: block at {x} built, size {x}", U32, U16)
// clang-format on
HLV_TRACE_TABLE(new_ncb, kComponentEngine, file::kEngine, HLV_NEW_NCB_POINTS)
#undef HLV_NEW_NCB_POINTS
