#pragma once

#include "trace/trace_point.h"

#define HLV_FORMAT_STRING_POINTS(X)                                    \
  X(kMeasureFailed, 21, "formatString: measuring failed with {}", I32) \
  X(kFormatFailed, 22, "formatString: formatting gave {} for a length of {}", I32, I32)
HLV_TRACE_TABLE(format_string, kComponentApp, file::kProcedures, HLV_FORMAT_STRING_POINTS)
#undef HLV_FORMAT_STRING_POINTS
