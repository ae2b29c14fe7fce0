#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_BACKUP_FILE_POINTS(X)                                                      \
  X(kBackupStarted, 50, "backup of entry {}", U32)                                     \
  X(kBackupFailed, 51, "backup of entry {} failed with {}", U32, U32)                  \
  X(kNoUpdateInterface, 52, "backup: no ready update interface")                       \
  X(kFlashSize, 53, "backup: flash of {} bytes", U32)                                  \
  X(kSizeQueryFailed, 54, "backup: flash size not read: {}", U32)                      \
  X(kEmptyFlash, 55, "backup: the adapter reports a flash of 0 bytes")                 \
  X(kNoMemory, 56, "backup: no memory for {} bytes", U32)                              \
  X(kReadFailed, 57, "backup: flash read failed: {}", U32)                             \
  X(kReadShort, 58, "backup: read gave {} bytes of {}", U32, U32)                      \
  X(kOpenFailed, 59, "backup file {} not opened: errno {}", Text, I32)                 \
  X(kWriteFailed, 60, "backup file {} not written: errno {}", Text, I32)               \
  X(kWritten, 61, "backup written to {}", Text)                                       \
  X(kNameTaken, 62, "backup file {} exists already: another name is tried", Text)     \
  X(kNotSynced, 100, "backup file {} not flushed to disk: errno {}", Text, I32)          \
  X(kIncompleteRemoved, 101, "incomplete backup file {} removed", Text)                  \
  X(kIncompleteNotRemoved, 102, "incomplete backup file {} not removed: errno {}", Text, I32)\
  X(kDirectoriesNotSynced, 103, "directories of backup file {} not flushed: errno {}", Text,\
    I32)                                                                                 \
  X(kDigestFailed, 104, "backup of {} bytes: its digest could not be computed", U32)    \
  X(kNotNamed, 105, "backup file {} not given its name: errno {}", Text, I32)
// clang-format on
HLV_TRACE_TABLE(backup_file, kComponentApp, file::kProcedures, HLV_BACKUP_FILE_POINTS)
#undef HLV_BACKUP_FILE_POINTS
