#pragma once

#include "trace/trace_point.h"

#define HLV_LOG_DIRECTORY_POINTS(X)                                                \
  X(kLogsDirectoryFailed, 1, "could not create the logs directory: errno {}", I32) \
  X(kRunDirectoryFailed, 2, "could not create the run's log directory: errno {}", I32)
HLV_TRACE_TABLE(log_directory, kComponentApp, file::kProcessUtilities, HLV_LOG_DIRECTORY_POINTS)
#undef HLV_LOG_DIRECTORY_POINTS
