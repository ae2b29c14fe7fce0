// One PCI function as the kernel describes it in sysfs, and the small readers that fill it.
//
// Paths held here are the kernel's own ("/sys/bus/pci/devices/0000:03:00.0"); every reader
// resolves them through the platform at the moment it opens a file, so a stored path means the
// same thing under any platform.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/register_window.h"

namespace hlv {

// One region of a PCI function, as listed in the function's "resource" file.
struct PciResource {
  uint64_t start = 0;
  uint64_t size = 0;   // end - start + 1, or 0 when the line lists end equal to start
  uint64_t flags = 0;  // the third number of the line, kept as read
};

// Regions 0 to 5: the six base address registers.
inline constexpr std::size_t kPciResourceCount = 6;

// One PCI function. Once mapBar0 has mapped its register window, the record holds the window
// and its descriptor; releasePciDevice, destroying the record or moving another one in gives
// them back. Moving hands the window over; copying is not allowed.
struct PciDevice {
  uint16_t domain = 0;
  uint8_t bus = 0;
  uint8_t device = 0;
  uint8_t function = 0;
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint16_t subsystemDeviceId = 0;
  uint16_t subsystemVendorId = 0;
  std::string path;  // the function's sysfs directory, e.g. /sys/bus/pci/devices/0000:03:00.0
  std::array<PciResource, kPciResourceCount> resources{};
  RegisterWindowMapping window;  // region 0 as mapBar0 mapped it; nothing held before
  int mapError = 0;              // why the last mapping failed (an errno), 0 when it did not

  // The descriptor of the mapped register file, -1 while none is open.
  int fd() const { return window.fd(); }
  // The mapped register window, null while none.
  void* mapping() const { return window.mapping(); }
};

// Resets the record to the function at sysfsPath (no address, identifiers 0, no window; a window
// held before is released first), then reads its identifiers and its resource table. Returns the
// result of reading the resource table.
bool initPciDevice(PciDevice& device, const std::string& sysfsPath);

// Reads "vendor", "device", "subsystem_device" and "subsystem_vendor"; an unreadable file leaves
// its identifier 0.
void readPciIds(PciDevice& device);

// Reads one kernel hexadecimal attribute ("0x1e9c\n"), keeping the low 16 bits. value is 0 unless
// the file was read; a file that holds no number reads as 0. False when the file cannot be opened
// or read.
bool readSysfsHex16(const std::string& path, uint16_t& value);

// Reads the six region lines of the "resource" file (start, end, flags, each a hexadecimal
// number). False when the file cannot be opened or read.
bool readPciResources(PciDevice& device);

// The first network interface of the function in name order, or "unknown".
std::string readInterfaceName(const PciDevice& device);

// The first line of the bound driver's version file, line feed included, or "unknown".
std::string readDriverVersion(const PciDevice& device);

// Gives back the register window and its descriptor when they are held, and clears the path.
// Safe to call more than once.
void releasePciDevice(PciDevice& device);

}  // namespace hlv
