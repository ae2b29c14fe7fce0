#pragma once

#include "trace/trace_point.h"

// Point 0 of the process utilities' pair; 1 and 2 belong to the log directory.
#define HLV_INTERRUPT_HANDLER_POINTS(X) X(kInterrupted, 0, "interrupted by the operator")
HLV_TRACE_TABLE(interrupt_handler, kComponentApp, file::kProcessUtilities,
                HLV_INTERRUPT_HANDLER_POINTS)
#undef HLV_INTERRUPT_HANDLER_POINTS
