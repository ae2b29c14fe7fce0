#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_ADAPTER_LIST_POINTS(X)                                                           \
  X(kDatabaseNotLoaded, 0, "update database {} not loaded", Text)                            \
  X(kNoAdapterFound, 1, "no adapter of the maker found")                                     \
  X(kEntryNotExamined, 2, "entry {} could not be examined", U32)                             \
  X(kAdapterListBuilt, 3, "adapter list of {} entries built", U64)                           \
  X(kNoAdapterName, 4, "no adapter name given")                                              \
  X(kAdapterNameFound, 5, "adapter name {} is entry {}", Text, U64)                          \
  X(kAdapterNameNotFound, 6, "adapter name {} matches no entry", Text)                       \
  X(kUpdaterNotOpened, byPosition(7), "entry {}: update interface not opened or not ready",  \
    U32)                                                                                     \
  X(kVersionsUnreadable, byPosition(8), "entry {}: firmware versions not read: {}", U32,     \
    U32)                                                                                     \
  X(kTypeUnreadable, byPosition(9), "entry {}: adapter type not read: {}", U32, U32)         \
  X(kAdapterExamined, byPosition(10),                                                        \
    "entry {}: firmware {}.{}.{}, previous {}.{}.{}, image type {}",                         \
    U32, U32, U32, U32, U32, U32, U32, U32)                                                  \
  X(kNoImageFor, 11, "entry {}: no image selected", U32)                                     \
  X(kNoImageSelected, byPosition(12), "entry {} not available: no image", U32)               \
  X(kImageTypeMismatch, byPosition(13),                                                      \
    "entry {} not available: takes image type {}, image is type {}",                         \
    U32, U32, U32)                                                                           \
  X(kUpdaterNotReady, byPosition(14), "entry {} not available: update interface not ready",  \
    U32)                                                                                     \
  X(kNotEligible, byPosition(15), "entry {} not available: not eligible", U32)               \
  X(kImageKeyRejected, byPosition(16), "entry {} not available: image key check {}", U32,    \
    U32)                                                                                     \
  X(kNotRequired, byPosition(17),                                                            \
    "entry {} not required: image {}.{}.{}, running {}.{}.{}", U32, U32,                     \
    U32, U32, U32, U32, U32)                                                                 \
  X(kAvailable, byPosition(18), "entry {} available", U32)
// clang-format on
HLV_TRACE_TABLE(adapter_list, kComponentApp, file::kAdapterList, HLV_ADAPTER_LIST_POINTS)
#undef HLV_ADAPTER_LIST_POINTS
