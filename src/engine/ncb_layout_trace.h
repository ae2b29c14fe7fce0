#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_NCB_LAYOUT_POINTS(X)                                                                 \
  X(kOverlap, 100, "imagesDisjoint: region {} at {x} size {x} overlaps the next region at {x}",  \
    U8, U32, U32, U32)                                                                           \
  X(kSameStart, 101, "imagesDisjoint: regions {} and {} both start at {x}", U8, U8, U32)         \
  X(kOutsideBank, 102, "imagesInOneBank: a region starts at {x}, across the border of the bank at {x}",\
    U32, U32)                                                                                    \
  X(kNotType2, 103, "isType2Layout: component {} at {x} size {x} outside the bank at {x}", U8,   \
    U32, U32, U32)                                                                               \
  X(kDisjoint, 104, "imagesDisjoint: regions disjoint (free area checked: {})", Bool)            \
  X(kInOneBank, 105, "imagesInOneBank: every region inside the bank at {x}", U32)                \
  X(kType2, 106, "isType2Layout: type 2 (free area {x} size {x}, block {})", U32, U32, U8)       \
  X(kRequired, 107, "requiredBankSize: {x} bytes for pages of {x}", U32, U32)                   \
  X(kNotInOwnBank, 108, "componentsInOwnBank: component {} at {x} size {x} outside the bank at {x}",\
    U8, U32, U32, U32)                                                                           \
  X(kInOwnBank, 109, "componentsInOwnBank: every component of block {} in its bank", U8)
// clang-format on
HLV_TRACE_TABLE(ncb_layout, kComponentEngine, file::kEngine, HLV_NCB_LAYOUT_POINTS)
#undef HLV_NCB_LAYOUT_POINTS
