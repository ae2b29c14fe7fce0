#pragma once

#include "trace/trace_point.h"

// Shares its file number with driver control, discovery, the adapter update interface (points 0
// to 39), the PCI device record (points 40 to 43) and the register access (point 45).
#define HLV_REGISTER_WINDOW_POINTS(X) \
  X(kWindowReleased, 44, "register window of {} released, length {x}", Text, U64)
HLV_TRACE_TABLE(register_window, kComponentApp, file::kDeviceAccess, HLV_REGISTER_WINDOW_POINTS)
#undef HLV_REGISTER_WINDOW_POINTS
