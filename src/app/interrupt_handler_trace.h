#pragma once

#include "trace/trace_point.h"

#define HLV_INTERRUPT_HANDLER_POINTS(X)             \
  X(kInterrupted, 0, "interrupted by the operator") \
  X(kInterruptSignal, 20, "the interrupt came as signal {}", I32)
HLV_TRACE_TABLE(interrupt_handler, kComponentApp, file::kProcessUtilities,
                HLV_INTERRUPT_HANDLER_POINTS)
#undef HLV_INTERRUPT_HANDLER_POINTS
