#pragma once

#include "trace/trace_point.h"

#define HLV_BDP_LOOKUP_POINTS(X)                                                             \
  X(kAliasTargetMissing, 9, "alias target board entry {} of alias {} not found", Text, Text) \
  X(kAliasMatched, 10, "alias matched")
HLV_TRACE_TABLE(bdp_lookup, kComponentApp, file::kDatabaseEntries, HLV_BDP_LOOKUP_POINTS)
#undef HLV_BDP_LOOKUP_POINTS
