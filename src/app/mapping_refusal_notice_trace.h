#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_MAPPING_REFUSAL_NOTICE_POINTS(X)                                                    \
  X(kAdapterRefused, 40, "adapter {}: its registers could not be mapped (errno {})", U32, I32)  \
  X(kCauseExplained, 41, "refusal cause {} explained for {} adapters: errno {}, lockdown {}, "   \
    "secure boot {}, root {}", U32, U64, I32, U32, U32, Bool)
// clang-format on
HLV_TRACE_TABLE(mapping_refusal_notice, kComponentApp, file::kConsole,
                HLV_MAPPING_REFUSAL_NOTICE_POINTS)
#undef HLV_MAPPING_REFUSAL_NOTICE_POINTS
