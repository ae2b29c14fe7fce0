// A fake machine under a test directory, for running device code under a
// platform::RootedPlatform(root): the emulator's machine writer (see sim/machine_writer.h for the
// layout) with test defaults, failing the test when a file cannot be written.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/machine_writer.h"

namespace hlv::test {

using FakePciRegion = sim::PciRegion;
using sim::kAdapterRegion0;

// Everything about one PCI function; the defaults describe a bound, working adapter.
struct FakePciFunction {
  std::string bdf = "0000:03:00.0";
  uint16_t vendorId = 0x1E9C;
  uint16_t deviceId = 0x20C3;
  uint16_t subsystemVendorId = 0x1E9C;
  uint16_t subsystemDeviceId = 0x0001;
  std::array<FakePciRegion, 6> regions{kAdapterRegion0};
  std::optional<std::string> interfaceName = "eth0";  // no "net" directory when absent
  std::string macAddress = "02:00:00:aa:bb:cc";       // written with a line feed after it
  std::optional<std::string> driver = "halvern";      // the bound driver, if any
  std::string driverVersion = "2.4.1\n";              // the driver module's version file
};

class FakeSysfs {
 public:
  // The tree lives under root ("root/sys/..."): install platform::RootedPlatform(root).
  explicit FakeSysfs(std::string root);

  const std::string& root() const { return machine_.root(); }
  // Where the absolute "/sys/..." path lies in the tree.
  std::string hostPath(std::string_view absolutePath) const;
  // The kernel's path of a function's directory, "/sys/bus/pci/devices/<bdf>".
  static std::string devicePath(const std::string& bdf);

  // Writes the whole function: identifiers, resource table, network interface, driver binding.
  FakeSysfs& addFunction(const FakePciFunction& function);

  // The pieces addFunction is made of, for tests that need a function with something odd.
  void writeIds(const FakePciFunction& function);
  void writeResources(const std::string& bdf, const std::array<FakePciRegion, 6>& regions);
  void addNetInterface(const std::string& bdf, const std::string& name,
                       const std::string& macAddress);
  // A driver directory with empty "bind" and "unbind" files and its module's version file.
  void addDriver(const std::string& name, const std::string& version = "2.4.1\n");
  // Links the function into the driver's directory and the driver into the function's.
  void bindFunction(const std::string& bdf, const std::string& driver);
  // A regular file of the given size standing in for the region-0 register file.
  void addRegisterFile(const std::string& bdf, uint64_t size);
  void setBoardName(const std::string& text);

  // Writes any file of the tree ("/sys/..."), creating its directories.
  void writeSysFile(std::string_view absolutePath, const std::string& contents);
  // What a driver's "bind" or "unbind" file holds now.
  std::string driverFile(const std::string& driver, const std::string& name) const;

 private:
  sim::MachineWriter machine_;
};

}  // namespace hlv::test
