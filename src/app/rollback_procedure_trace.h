#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_ROLLBACK_PROCEDURE_POINTS(X)                                                  \
  X(kRollbackSelection, 30, "rollback selection over {} entries", U64)                    \
  X(kRollbackStarted, 31, "rollback of entry {}", U32)                                    \
  X(kNoPreviousFirmware, 32, "entry {} has no previous firmware to return to", U32)       \
  X(kConfirmationAnswer, 33, "rollback confirmation answer {}", Text)                     \
  X(kNotConfirmed, 34, "rollback not confirmed")                                          \
  X(kBackupFailed, 35, "rollback stopped: backup failed with {}", U32)                    \
  X(kRollbackFailed, 36, "rollback of entry {} failed with {}", U32, U32)                 \
  X(kReloadFailed, 37, "firmware reload after rollback: {}", U32)                         \
  X(kRollbackFinished, 39, "rollback of entry {} finished with {}, power cycle needed {}", \
    U32, U32, Bool)                                                                       \
  X(kQuit, 40, "operator quit at the rollback prompt")                                    \
  X(kInterruptedRollbackFound, 41, "interrupted rollback found, backup {} finishes it", Text) \
  X(kRollbackFromBackup, 42, "rollback from backup {}", Text)                            \
  X(kLogsNotOpened, 43, "rollback: {} not opened: errno {}", Text, I32)                   \
  X(kJournalBackupRefused, 44, "rollback: the journal's backup {} refused with {}", Text, U32)\
  X(kJournalPlanDiffers, 45,                                                              \
    "rollback: part {x} would activate {x}, the journal recorded {x}", U32, U32, U32)      \
  X(kRollbackNotPlanned, 46, "rollback refused before the flash was touched: {}", U32)    \
  X(kPreviousNotOffered, 47,                                                              \
    "entry {}: previous firmware not offered, the rollback refuses it with {}", U32, U32)
// clang-format on
HLV_TRACE_TABLE(rollback_procedure, kComponentApp, file::kProcedures, HLV_ROLLBACK_PROCEDURE_POINTS)
#undef HLV_ROLLBACK_PROCEDURE_POINTS
