#pragma once

#include "trace/trace_point.h"

// Points 50 to 69 of the procedures' pair.
#define HLV_BACKUP_FILE_POINTS(X)                  \
  X(kBackupStarted, 50, "backup of entry {}", U32) \
  X(kBackupFailed, 51, "backup of entry {} failed with {}", U32, U32)
HLV_TRACE_TABLE(backup_file, kComponentApp, file::kProcedures, HLV_BACKUP_FILE_POINTS)
#undef HLV_BACKUP_FILE_POINTS
