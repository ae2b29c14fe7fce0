#pragma once

#include "trace/trace_point.h"

#define HLV_ADAPTER_LIST_POINTS(X)                                  \
  X(kDatabaseNotLoaded, 0, "update database {} not loaded", Text)   \
  X(kNoAdapterFound, 1, "no adapter of the maker found")            \
  X(kEntryNotExamined, 2, "entry {} could not be examined", U32)    \
  X(kAdapterListBuilt, 3, "adapter list of {} entries built", U64)  \
  X(kNoAdapterName, 4, "no adapter name given")                     \
  X(kAdapterNameFound, 5, "adapter name {} is entry {}", Text, U64) \
  X(kAdapterNameNotFound, 6, "adapter name {} matches no entry", Text)
HLV_TRACE_TABLE(adapter_list, kComponentApp, file::kAdapterList, HLV_ADAPTER_LIST_POINTS)
#undef HLV_ADAPTER_LIST_POINTS
