#pragma once

#include "trace/trace_point.h"

// Points 0 to 19 of the procedures' pair.
#define HLV_UPDATE_PROCEDURE_POINTS(X)            \
  X(kUpdateStarted, 0, "update of entry {}", U32) \
  X(kNoUpdateInterface, 1, "entry {} has no usable update interface", U32)
HLV_TRACE_TABLE(update_procedure, kComponentApp, file::kProcedures, HLV_UPDATE_PROCEDURE_POINTS)
#undef HLV_UPDATE_PROCEDURE_POINTS
