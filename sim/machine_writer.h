// Writes the files of an emulated machine under a root directory: the part of "/sys" the program
// reads, laid out and worded the way the kernel does it, and any other file. The lab writer and
// the tests' fake machines both build on it.
//
//   ROOT/sys/bus/pci/devices/<bdf>/{vendor,device,subsystem_vendor,subsystem_device}  "0x1e9c\n"
//   ROOT/sys/bus/pci/devices/<bdf>/resource   13 lines "0x%016x 0x%016x 0x%016x\n" (start, end,
//                                             flags); regions 0-5 first, unused lines all zero
//   ROOT/sys/bus/pci/devices/<bdf>/net/<ifname>/address   "02:00:00:aa:bb:cc\n"
//   ROOT/sys/bus/pci/devices/<bdf>/driver -> ../../drivers/<name>        (when bound)
//   ROOT/sys/bus/pci/drivers/<name>/{bind,unbind}, <bdf> -> ../../devices/<bdf>, module ->
//   ROOT/sys/module/<name>/version
//   ROOT/sys/devices/virtual/dmi/id/board_name
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "shared/result.h"

namespace hlv::sim {

// One region line of a function's "resource" file.
struct PciRegion {
  uint64_t start = 0;
  uint64_t end = 0;
  uint64_t flags = 0;
};

// A 4 MiB memory region 0, as the adapters have it.
inline constexpr PciRegion kAdapterRegion0{0xFB000000, 0xFB3FFFFF, 0x00140204};

// One PCI function as sysfs shows it; the defaults are those of a bound adapter of the maker.
struct PciFunction {
  std::string bdf;  // "0000:01:00.0"
  uint16_t vendorId = 0x1E9C;
  uint16_t deviceId = 0x20C3;
  uint16_t subsystemVendorId = 0x1E9C;
  uint16_t subsystemDeviceId = 0x0001;
  std::array<PciRegion, 6> regions{kAdapterRegion0};
  std::string interfaceName;       // its network interface; none when empty
  std::string macAddress;          // the interface's address, written with a line feed after it
  std::string driver = "halvern";  // the bound driver; none when empty
};

class MachineWriter {
 public:
  explicit MachineWriter(std::string root) : root_(std::move(root)) {}

  const std::string& root() const { return root_; }
  // Where the machine's absolute path ("/sys/...") lies under the root.
  std::string hostPath(std::string_view absolutePath) const;
  // The kernel's path of a function's directory, "/sys/bus/pci/devices/<bdf>".
  static std::string devicePath(const std::string& bdf);

  // The whole function: identifiers, resource table, network interface, and its driver (made
  // with this version when it does not exist yet) bound to it.
  Result<> addFunction(const PciFunction& function, const std::string& driverVersion);

  // The pieces addFunction is made of, for machines with something odd.
  Result<> writeIds(const PciFunction& function);
  Result<> writeResources(const std::string& bdf, const std::array<PciRegion, 6>& regions);
  Result<> addNetInterface(const std::string& bdf, const std::string& name,
                           const std::string& macAddress);
  // A driver directory with "bind" and "unbind" files (empty when new) and its module's version
  // file.
  Result<> addDriver(const std::string& name, const std::string& version);
  // Links the function into the driver's directory and the driver into the function's.
  Result<> bindFunction(const std::string& bdf, const std::string& driver);
  Result<> setBoardName(const std::string& text);

  // Any file or directory of the machine, by its absolute path, with the directories above it.
  Result<> writeFile(std::string_view absolutePath, const std::string& contents);
  Result<> makeDirectory(std::string_view absolutePath);

 private:
  // Replaces whatever is at the machine's path `link` with a symbolic link to target.
  Result<> linkTo(const std::string& target, std::string_view link);

  std::string root_;
};

}  // namespace hlv::sim
