#pragma once

#include "trace/trace_point.h"

#define HLV_DRIVER_RESTART_STEP_POINTS(X) \
  X(kRestartFailed, byPosition(90), "driver restart of entry {} failed with {}", U32, U32)
HLV_TRACE_TABLE(driver_restart_step, kComponentApp, file::kProcedures,
                HLV_DRIVER_RESTART_STEP_POINTS)
#undef HLV_DRIVER_RESTART_STEP_POINTS
