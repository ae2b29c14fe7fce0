#pragma once

#include "trace/trace_point.h"

// Points 100 to 119 of the procedures' pair.
// clang-format off
#define HLV_ROLLBACK_JOURNAL_POINTS(X)                                                         \
  X(kDirectoryNotOwn, 100, "rollback journal: logs/{} is not a directory of the tool's own", Text)\
  X(kFileNotOwn, 101, "rollback journal: {} is not a file of the tool's own", Text)            \
  X(kJournalTooLong, 102, "rollback journal in {}: {} bytes, not a record", Text, U64)         \
  X(kJournalUnreadable, 103, "rollback journal in {}: unreadable", Text)                       \
  X(kJournalMalformed, 104, "rollback journal in {}: not a record", Text)                      \
  X(kLogsNotListed, 105, "rollback journals: the logs not listed: errno {}", I32)              \
  X(kJournalFound, 106, "rollback journal in {}: sequence {}", Text, U64)                      \
  X(kNoJournal, 107, "rollback journals: none of the adapter {}", Text)                        \
  X(kJournalAmbiguous, 108, "rollback journals: two share the newest sequence {}", U64)        \
  X(kBackupNotOpened, 109, "rollback journal's backup {} not opened: errno {}", Text, I32)     \
  X(kBackupWrongSize, 110, "rollback journal's backup {}: {} bytes", Text, U64)                \
  X(kBackupDigestDiffers, 111, "rollback journal's backup {}: other bytes than recorded", Text)\
  X(kBackupVerified, 112, "rollback journal's backup {} verified, sequence {}", Text, U64)     \
  X(kJournalNotCreated, 113, "rollback journal not created: errno {}", I32)                    \
  X(kJournalNotWritten, 114, "rollback journal not written: errno {}", I32)                    \
  X(kJournalWritten, 115, "rollback journal written, sequence {}, backup {}", U64, Text)
// clang-format on
HLV_TRACE_TABLE(rollback_journal, kComponentApp, file::kProcedures, HLV_ROLLBACK_JOURNAL_POINTS)
#undef HLV_ROLLBACK_JOURNAL_POINTS
