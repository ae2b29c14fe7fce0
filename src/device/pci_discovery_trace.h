#pragma once

#include "trace/trace_point.h"

#define HLV_PCI_DISCOVERY_POINTS(X)                                                           \
  X(kScanStarted, 20, "scanning {}", Text)                                                    \
  X(kScanFailed, 21, "directory {} cannot be listed", Text)                                   \
  X(kEntryNotAnAddress, 22, "entry {} is not a PCI address, skipped", Text)                   \
  X(kFunctionFound, byPosition(23),                                                           \
    "function {}: vendor {x} device {x} subsystem device {x} vendor {x}",                     \
    Text, U16, U16, U16, U16)                                                                 \
  X(kAdapterFound, byPosition(24), "adapter {} interface {} mac {} driver {}", Text, Text,    \
    Text, Text)                                                                               \
  X(kDiscoveryDone, 25, "{} adapters of {} PCI functions", U32, U32)                          \
  X(kDiscoveryFailed, 26, "discovery stopped: {}", Text)                                      \
  X(kMacUnreadable, 27, "address file {} cannot be read: errno {}", Text, I32)
HLV_TRACE_TABLE(pci_discovery, kComponentApp, file::kDeviceAccess, HLV_PCI_DISCOVERY_POINTS)
#undef HLV_PCI_DISCOVERY_POINTS
