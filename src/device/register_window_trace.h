#pragma once

#include "trace/trace_point.h"

#define HLV_REGISTER_WINDOW_POINTS(X) \
  X(kWindowReleased, 44, "register window of {} released, length {x}", Text, U64)
HLV_TRACE_TABLE(register_window, kComponentApp, file::kDeviceAccess, HLV_REGISTER_WINDOW_POINTS)
#undef HLV_REGISTER_WINDOW_POINTS
