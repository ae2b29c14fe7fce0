#pragma once

#include "trace/trace_point.h"

// Shares its file number with driver control, discovery, the adapter update interface (points 0
// to 39), the PCI device record (points 40 to 43) and the register window (point 44).
#define HLV_REGISTER_CONTROL_POINTS(X)                                                        \
  X(kWindowTooSmall, 45, "registers of {} not mapped: region 0 is {x} bytes, {x} are needed", \
    Text, U64, U64)
HLV_TRACE_TABLE(register_control, kComponentApp, file::kDeviceAccess, HLV_REGISTER_CONTROL_POINTS)
#undef HLV_REGISTER_CONTROL_POINTS
