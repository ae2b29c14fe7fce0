#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_ROLLBACK_JOURNAL_POINTS(X)                                                         \
  X(kDirectoryNotOwn, 110, "rollback journals: {} passed over: {}", Text, Text)              \
  X(kFileNotOwn, 111, "rollback journal {} passed over: {}", Text, Text)                      \
  X(kJournalMalformed, 112, "rollback journal in {}: not a record", Text)                      \
  X(kLogsNotListed, 113, "rollback journals: the logs not listed: errno {}", I32)              \
  X(kJournalFound, 114, "rollback journal in {}: sequence {}", Text, U64)                      \
  X(kNoJournal, 115, "rollback journals: none of the adapter {}", Text)                        \
  X(kJournalAmbiguous, 116, "rollback journals: two share the newest sequence {}", U64)        \
  X(kBackupNotOpened, 117, "rollback journal's backup {} refused: {}", Text, Text)     \
  X(kBackupWrongSize, 118, "rollback journal's backup {}: {} bytes", Text, U64)                \
  X(kBackupDigestDiffers, 119, "rollback journal's backup {}: other bytes than recorded", Text)\
  X(kBackupVerified, 120, "rollback journal's backup {} verified, sequence {}", Text, U64)     \
  X(kJournalNotCreated, 121, "rollback journal not created: errno {}", I32)                    \
  X(kJournalNotWritten, 122, "rollback journal not written: errno {}", I32)                    \
  X(kJournalWritten, 123, "rollback journal written, sequence {}, backup {}", U64, Text)
// clang-format on
HLV_TRACE_TABLE(rollback_journal, kComponentApp, file::kProcedures, HLV_ROLLBACK_JOURNAL_POINTS)
#undef HLV_ROLLBACK_JOURNAL_POINTS
