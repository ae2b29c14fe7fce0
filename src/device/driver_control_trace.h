#pragma once

#include "trace/trace_point.h"

#define HLV_DRIVER_CONTROL_POINTS(X)                                                        \
  X(kUnbindOpenFailed, 1, "adapter {}: unbind file cannot be opened: errno {}", Text, I32)  \
  X(kUnbindWriteFailed, 2, "adapter {}: unbind write failed: errno {}", Text, I32)          \
  X(kBindOpenFailed, 3, "adapter {}: bind file cannot be opened: errno {}", Text, I32)      \
  X(kBindWriteFailed, 4, "adapter {}: bind write failed: errno {}", Text, I32)              \
  X(kRestartRequested, 5, "restarting the driver of adapter {} (interface {})", Text, Text) \
  X(kNoInterface, 6, "adapter {} has no network interface; no driver to restart", Text)     \
  X(kDriverFound, 7, "adapter {} is bound to driver {}", Text, Text)                        \
  X(kNoDriverFound, 8, "adapter {} is bound to none of the known drivers", Text)            \
  X(kDriverRestarted, byPosition(9), "adapter {}: driver unbound and bound again", Text)
HLV_TRACE_TABLE(driver_control, kComponentApp, file::kDeviceAccess, HLV_DRIVER_CONTROL_POINTS)
#undef HLV_DRIVER_CONTROL_POINTS
