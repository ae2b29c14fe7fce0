#pragma once

#include "trace/trace_point.h"

// Points 30 to 49 of the procedures' pair.
#define HLV_ROLLBACK_PROCEDURE_POINTS(X)                               \
  X(kRollbackSelection, 30, "rollback selection over {} entries", U64) \
  X(kRollbackStarted, 31, "rollback of entry {}", U32)                 \
  X(kNoPreviousFirmware, 32, "entry {} has no previous firmware to return to", U32)
HLV_TRACE_TABLE(rollback_procedure, kComponentApp, file::kProcedures, HLV_ROLLBACK_PROCEDURE_POINTS)
#undef HLV_ROLLBACK_PROCEDURE_POINTS
