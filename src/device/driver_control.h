// Restarting the kernel network driver of an adapter, so that it takes the adapter up again
// after new firmware was written.
#pragma once

#include <cstdint>
#include <string>

#include "device/pci_discovery.h"
#include "shared/status_table.h"

namespace hlv {

// kStatusDriverRestarted and kStatusDriverRestartFailed.
HLV_DRIVER_RESTART_STATUSES(HLV_STATUS_CONSTANT)

// The two kernel drivers that may own an adapter's function, tried in this order.
inline constexpr const char* kDriverNames[] = {"halvern", "halvern-fwd"};

// The first of kDriverNames that owns the function at this PCI address: the one whose directory
// under "/sys/bus/pci/drivers/" lists the address (the kernel keeps one entry per bound function
// there). Null when neither does. The restart below asks this, and so does anything that has to
// agree with it on whether a driver can be restarted.
const char* owningDriver(const std::string& bdf);

// Writes the adapter's PCI address to its driver's "unbind" file and then to its "bind" file.
// 0 when the driver was rebound or the adapter has no network interface (no driver to restart);
// 40 when a step failed. A failure after the unbind leaves the function without its driver.
uint32_t restartDriver(const AdapterInfo& adapter);

}  // namespace hlv
