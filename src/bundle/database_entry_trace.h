#pragma once

#include "trace/trace_point.h"

#define HLV_DATABASE_ENTRY_POINTS(X)                                                            \
  X(kBdpId, 0, "board entry {}", Text)                                                          \
  X(kBdpHwId, 1, "board entry hwid {}: vid {x} did {x} sdid {x} svid {x}", U32, U16, U16, U16,  \
    U16)                                                                                        \
  X(kBdpMac, 2, "board entry mac {}", Text)                                                     \
  X(kBdpPhy, 3, "board entry phy {}", Text)                                                     \
  X(kBdpImage, 4, "board entry image {}", Text)                                                 \
  X(kAliasId, 5, "alias {}", Text)                                                              \
  X(kAliasHwId, 6, "alias hwid {}: vid {x} did {x} sdid {x} svid {x}", U32, U16, U16, U16, U16) \
  X(kAliasSystemId, 7, "alias system id {}: {} {}", U32, Text, Text)                            \
  X(kAliasBdpId, 8, "alias selects board entry {}", Text)
HLV_TRACE_TABLE(database_entry, kComponentApp, file::kDatabaseEntries, HLV_DATABASE_ENTRY_POINTS)
#undef HLV_DATABASE_ENTRY_POINTS
