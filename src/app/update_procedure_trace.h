#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_UPDATE_PROCEDURE_POINTS(X)                                                    \
  X(kUpdateStarted, byPosition(70), "update of entry {}", U32)                            \
  X(kNoUpdateInterface, byPosition(71), "entry {} has no usable update interface", U32)   \
  X(kBackupFailed, byPosition(72), "update stopped: backup failed with {}", U32)          \
  X(kNoImage, byPosition(73), "entry {} has no image to write", U32)                      \
  X(kUpdateFailed, 74, "update failed with {}", U32)                                      \
  X(kUpdated, 75, "firmware written")                                                     \
  X(kReloadResult, byPosition(76), "firmware reload: {}", U32)                            \
  X(kReloadNotTried, 77, "no firmware reload for image type {}", U32)                     \
  X(kUpdateFinished, byPosition(79),                                                        \
    "update of entry {} finished with {}, power cycle needed {}", U32,                      \
    U32, Bool)
// clang-format on
HLV_TRACE_TABLE(update_procedure, kComponentApp, file::kProcedures, HLV_UPDATE_PROCEDURE_POINTS)
#undef HLV_UPDATE_PROCEDURE_POINTS
