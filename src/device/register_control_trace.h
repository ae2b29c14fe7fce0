#pragma once

#include "trace/trace_point.h"

#define HLV_REGISTER_CONTROL_POINTS(X)                                                        \
  X(kWindowTooSmall, 45, "registers of {} not mapped: region 0 is {x} bytes, {x} are needed", \
    Text, U64, U64)
HLV_TRACE_TABLE(register_control, kComponentApp, file::kDeviceAccess, HLV_REGISTER_CONTROL_POINTS)
#undef HLV_REGISTER_CONTROL_POINTS
