#pragma once

#include "trace/trace_point.h"

// Points 10 and above of the console's pair; 0 to 9 belong to console.cpp.
#define HLV_ADAPTER_TABLE_POINTS(X)                                                    \
  X(kTableNotShown, 10, "table of {} entries not shown (rollback mode {})", U64, Bool) \
  X(kPromptNotOffered, 11, "adapter prompt over {} entries not offered", U64)
HLV_TRACE_TABLE(adapter_table, kComponentApp, file::kConsole, HLV_ADAPTER_TABLE_POINTS)
#undef HLV_ADAPTER_TABLE_POINTS
