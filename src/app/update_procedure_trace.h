#pragma once

#include "trace/trace_point.h"

// Points 70 to 89 of the procedures' pair; image selection has 0 to 3 and formatString 21 and 22.
// clang-format off
#define HLV_UPDATE_PROCEDURE_POINTS(X)                                                    \
  X(kUpdateStarted, 70, "update of entry {}", U32)                                        \
  X(kNoUpdateInterface, 71, "entry {} has no usable update interface", U32)               \
  X(kBackupFailed, 72, "update stopped: backup failed with {}", U32)                      \
  X(kNoImage, 73, "entry {} has no image to write", U32)                                  \
  X(kUpdateFailed, 74, "update failed with {}", U32)                                      \
  X(kUpdated, 75, "firmware written")                                                     \
  X(kReloadResult, 76, "firmware reload: {}", U32)                                        \
  X(kReloadNotTried, 77, "no firmware reload for image type {}", U32)                     \
  X(kUpdateFinished, 79, "update of entry {} finished with {}, power cycle needed {}", U32, \
    U32, Bool)
// clang-format on
HLV_TRACE_TABLE(update_procedure, kComponentApp, file::kProcedures, HLV_UPDATE_PROCEDURE_POINTS)
#undef HLV_UPDATE_PROCEDURE_POINTS
