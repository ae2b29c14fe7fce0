#pragma once

#include "trace/trace_point.h"

#define HLV_PCI_DEVICE_POINTS(X)                                                        \
  X(kAttributeUnreadable, 40, "sysfs attribute {} cannot be read: errno {}", Text, I32) \
  X(kResourceUnreadable, 41, "resource table {} cannot be read: errno {}", Text, I32)   \
  X(kNoNetworkInterface, 42, "no network interface under {}", Text)                     \
  X(kNoDriverVersion, 43, "no driver version under {}", Text)
HLV_TRACE_TABLE(pci_device, kComponentApp, file::kDeviceAccess, HLV_PCI_DEVICE_POINTS)
#undef HLV_PCI_DEVICE_POINTS
