#pragma once

#include "trace/trace_point.h"

#define HLV_RUN_REPORT_POINTS(X)                                             \
  X(kWritten, 0, "run report {} written, {} bytes", Text, U64)               \
  X(kNotWritten, 1, "run report {} not written: errno {}", Text, I32)        \
  X(kNotFormatted, 2, "run report not formatted: {}", Text)                  \
  X(kIncompleteNotRemoved, 3, "incomplete run report {} not removed: errno {}", Text, I32)
HLV_TRACE_TABLE(run_report, kComponentApp, file::kRunReport, HLV_RUN_REPORT_POINTS)
#undef HLV_RUN_REPORT_POINTS
