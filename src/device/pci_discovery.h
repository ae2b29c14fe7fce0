// Finding the maker's adapters among the PCI functions the kernel lists in sysfs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/pci_device.h"
#include "update/voflupdateiface.h"

namespace hlv {

using UpdaterPtr = std::unique_ptr<VoFlUpdateIface>;

// The maker's PCI vendor ID.
inline constexpr uint16_t kTessarinVendorId = 0x1E9C;

// One discovered adapter.
struct AdapterInfo {
  std::string bdf;            // "0000:03:00.0": domain, bus, device, function; 12 characters
  std::string interfaceName;  // first network interface of the function, or "unknown"
  std::string driverVersion;  // first line of the driver's version file as read, or "unknown"
  std::string sysfsPath;      // the function's sysfs directory, as the kernel names it
  std::string macAddress;     // text of the interface's address file, empty when unreadable
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint16_t subsystemDeviceId = 0;
  uint16_t subsystemVendorId = 0;
  // Handed out with the four identifiers when they travel as a group; never set to anything
  // but 0.
  uint8_t reserved = 0;
  uint32_t index = 0;  // position in discovery order, set by the adapter list
  UpdaterPtr updater;  // the adapter's update interface, null until opened
};

using AdapterList = std::vector<std::unique_ptr<AdapterInfo>>;

// Every PCI function of the maker under "/sys/bus/pci/devices", in name order. Never fails: an
// empty list means none was found or sysfs could not be read.
AdapterList discoverAdapters();

// Appends one PciDevice per entry of directory whose name is a PCI address, in name order.
// True when the list is not empty afterwards; false with the list unchanged when the directory
// cannot be listed.
bool scanPciDevices(const std::string& directory, std::vector<PciDevice>& devices);

}  // namespace hlv
