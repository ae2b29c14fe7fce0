#pragma once

#include "trace/trace_point.h"

// Points 70 to 89 of the procedures' pair; image selection has 0 to 3 and formatString 21 and 22.
#define HLV_UPDATE_PROCEDURE_POINTS(X)             \
  X(kUpdateStarted, 70, "update of entry {}", U32) \
  X(kNoUpdateInterface, 71, "entry {} has no usable update interface", U32)
HLV_TRACE_TABLE(update_procedure, kComponentApp, file::kProcedures, HLV_UPDATE_PROCEDURE_POINTS)
#undef HLV_UPDATE_PROCEDURE_POINTS
