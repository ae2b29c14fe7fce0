#pragma once

#include "trace/trace_point.h"

// The adapter whose update interface is not ready.
#define HLV_OPEN_UPDATER_POINTS(X) X(kNotReady, 0, "adapter {}: update interface not ready", U32)
HLV_TRACE_TABLE(open_updater, kComponentApp, file::kDeviceAccess, HLV_OPEN_UPDATER_POINTS)
#undef HLV_OPEN_UPDATER_POINTS
