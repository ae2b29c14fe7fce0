#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_LEGACY_FLAGS_POINTS(X)                                                                 \
  X(kDetermine, 350, "determineLegacyFlags: running {}.{}.{}, new firmware {}", U32, U32, U32,    \
    Bool)                                                                                         \
  X(kAreaSearched, 351, "determineLegacyFlags: record walk gave {}, {} bytes read, flag {}", I32, \
    U32, Bool)                                                                                    \
  X(kAreaOutsideBlock, 352, "determineLegacyFlags: area {} at {x} length {x} outside the block",  \
    U8, U32, U32)                                                                                 \
  X(kMacCrcUnknown, 353, "determineLegacyFlags: macCrc {x} unknown for old firmware {}.{}.{}",    \
    U16, U32, U32, U32)                                                                           \
  X(kPhyCrcUnknown, 354, "determineLegacyFlags: phyCrc {x} unknown for old firmware {}.{}.{}",    \
    U16, U32, U32, U32)                                                                           \
  X(kFlags, 355, "determineLegacyFlags: flag D {}, flag E {}", Bool, Bool)
// clang-format on
HLV_TRACE_TABLE(legacy_flags, kComponentEngine, file::kEngine, HLV_LEGACY_FLAGS_POINTS)
#undef HLV_LEGACY_FLAGS_POINTS
