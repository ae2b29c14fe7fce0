#pragma once

#include "trace/trace_point.h"

#define HLV_UPDATE_DATABASE_POINTS(X)                                      \
  X(kVidMissing, 0, "hwid without vid")                                    \
  X(kDidMissing, 1, "hwid without did")                                    \
  X(kSdidMissing, 2, "hwid without sdid")                                  \
  X(kSvidMissing, 3, "hwid without svid")                                  \
  X(kLoadFailed, 4, "database {} cannot be loaded: {}", Text, Text)        \
  X(kNoRoot, 5, "database has no bdpDatabase element: {}", Text)           \
  X(kVersion, 6, "database version {}", Text)                              \
  X(kEntryRejected, 7, "database rejected: {}", Text)                      \
  X(kLoading, 8, "loading database {}", Text)                              \
  X(kLoaded, 9, "database loaded: {} board entries, {} aliases", U32, U32) \
  X(kElementSkipped, 10, "database element {} skipped", Text)
HLV_TRACE_TABLE(update_database, kComponentApp, file::kDatabaseLoading, HLV_UPDATE_DATABASE_POINTS)
#undef HLV_UPDATE_DATABASE_POINTS
