#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_ADAPTER_TABLE_POINTS(X)                                                       \
  X(kTableShown, 10, "table of {} entries shown (rollback mode {})", U64, Bool)           \
  X(kTableEntry, 11, "table entry {}", U32)                                               \
  X(kEntryAdapter, 12, "  adapter {} at {}, MAC {}, driver {}", Text, Text, Text, Text)   \
  X(kEntryIds, 13, "  vid {x} did {x} sdid {x} svid {x}", U16, U16, U16, U16)             \
  X(kEntryFirmware, 14, "  firmware {}.{}.{}, previous {}.{}.{}, takes image type {}",    \
    U32, U32, U32, U32, U32, U32, U32)                                                    \
  X(kEntryStatus, 15, "  status {} ({})", Text, U32)                                      \
  X(kPromptShown, 16, "adapter prompt over {} entries (rollback {})", U64, Bool)          \
  X(kAdapterChosen, 17, "adapter {} chosen", U64)                                         \
  X(kPromptQuit, 18, "operator quit at the adapter prompt (end of input {})", Bool)       \
  X(kInvalidInput, 19, "invalid input at the adapter prompt")
// clang-format on
HLV_TRACE_TABLE(adapter_table, kComponentApp, file::kConsole, HLV_ADAPTER_TABLE_POINTS)
#undef HLV_ADAPTER_TABLE_POINTS
