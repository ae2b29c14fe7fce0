#pragma once

#include "trace/trace_point.h"

#define HLV_LOG_DIRECTORY_POINTS(X)                                                    \
  X(kLogsDirectoryFailed, 1, "could not create the logs directory: errno {}", I32)     \
  X(kRunDirectoryFailed, 2, "could not create the run's log directory: errno {}", I32) \
  X(kToolDirectoryUnopened, 10, "tool directory {} not opened: errno {}", Text, I32)   \
  X(kDirectoryRefused, 11, "log directory {} not used: {}", Text, Text)                \
  X(kRunNameTaken, 12, "run directory {} exists already: another name is tried", Text) \
  X(kRunDirectoryMade, 13, "run directory {} made; logs directory made by this run: {}", Text, Bool)
HLV_TRACE_TABLE(log_directory, kComponentApp, file::kProcessUtilities, HLV_LOG_DIRECTORY_POINTS)
#undef HLV_LOG_DIRECTORY_POINTS
