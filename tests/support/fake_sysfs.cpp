#include "tests/support/fake_sysfs.h"

#include <filesystem>
#include <stdexcept>

#include "tests/support/files.h"

namespace hlv::test {
namespace {

// A fixture that cannot be written ends the test where it is being built.
void require(const Result<>& written) {
  if (!written) throw std::runtime_error(written.error());
}

sim::PciFunction machineFunction(const FakePciFunction& function) {
  sim::PciFunction written;
  written.bdf = function.bdf;
  written.vendorId = function.vendorId;
  written.deviceId = function.deviceId;
  written.subsystemVendorId = function.subsystemVendorId;
  written.subsystemDeviceId = function.subsystemDeviceId;
  written.regions = function.regions;
  written.interfaceName = function.interfaceName.value_or("");
  written.macAddress = function.macAddress;
  written.driver = function.driver.value_or("");
  return written;
}

}  // namespace

FakeSysfs::FakeSysfs(std::string root) : machine_(std::move(root)) {
  require(machine_.makeDirectory("/sys/bus/pci/devices"));
  require(machine_.makeDirectory("/sys/bus/pci/drivers"));
}

std::string FakeSysfs::hostPath(std::string_view absolutePath) const {
  return machine_.hostPath(absolutePath);
}

std::string FakeSysfs::devicePath(const std::string& bdf) {
  return sim::MachineWriter::devicePath(bdf);
}

FakeSysfs& FakeSysfs::addFunction(const FakePciFunction& function) {
  require(machine_.addFunction(machineFunction(function), function.driverVersion));
  return *this;
}

void FakeSysfs::writeIds(const FakePciFunction& function) {
  require(machine_.writeIds(machineFunction(function)));
}

void FakeSysfs::writeResources(const std::string& bdf,
                               const std::array<FakePciRegion, 6>& regions) {
  require(machine_.writeResources(bdf, regions));
}

void FakeSysfs::addNetInterface(const std::string& bdf, const std::string& name,
                                const std::string& macAddress) {
  require(machine_.addNetInterface(bdf, name, macAddress));
}

void FakeSysfs::addDriver(const std::string& name, const std::string& version) {
  require(machine_.addDriver(name, version));
}

void FakeSysfs::bindFunction(const std::string& bdf, const std::string& driver) {
  require(machine_.bindFunction(bdf, driver));
}

void FakeSysfs::addRegisterFile(const std::string& bdf, uint64_t size) {
  const std::string path = hostPath(devicePath(bdf) + "/resource0");
  writeFile(path, "");
  std::filesystem::resize_file(path, size);
}

void FakeSysfs::setBoardName(const std::string& text) {
  require(machine_.setBoardName(text));
}

void FakeSysfs::writeSysFile(std::string_view absolutePath, const std::string& contents) {
  require(machine_.writeFile(absolutePath, contents));
}

std::string FakeSysfs::driverFile(const std::string& driver, const std::string& name) const {
  return readFile(hostPath("/sys/bus/pci/drivers/" + driver + "/" + name));
}

}  // namespace hlv::test
