#include "tests/support/fake_sysfs.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "tests/support/files.h"

namespace hlv::test {
namespace {

namespace fs = std::filesystem;

std::string hexAttribute(uint16_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x\n", value);
  return text;
}

// The kernel lists the six base address registers, the expansion ROM and the six SR-IOV
// registers: 13 lines, 741 bytes.
constexpr int kResourceLines = 13;

}  // namespace

FakeSysfs::FakeSysfs(std::string root) : root_(std::move(root)) {
  fs::create_directories(hostPath("/sys/bus/pci/devices"));
  fs::create_directories(hostPath("/sys/bus/pci/drivers"));
}

std::string FakeSysfs::hostPath(std::string_view absolutePath) const {
  return root_ + std::string(absolutePath);
}

std::string FakeSysfs::devicePath(const std::string& bdf) {
  return "/sys/bus/pci/devices/" + bdf;
}

FakeSysfs& FakeSysfs::addFunction(const FakePciFunction& function) {
  writeIds(function);
  writeResources(function.bdf, function.regions);
  if (function.interfaceName)
    addNetInterface(function.bdf, *function.interfaceName, function.macAddress);
  if (function.driver) {
    addDriver(*function.driver, function.driverVersion);
    bindFunction(function.bdf, *function.driver);
  }
  return *this;
}

void FakeSysfs::writeIds(const FakePciFunction& function) {
  const std::string device = devicePath(function.bdf);
  writeSysFile(device + "/vendor", hexAttribute(function.vendorId));
  writeSysFile(device + "/device", hexAttribute(function.deviceId));
  writeSysFile(device + "/subsystem_vendor", hexAttribute(function.subsystemVendorId));
  writeSysFile(device + "/subsystem_device", hexAttribute(function.subsystemDeviceId));
}

void FakeSysfs::writeResources(const std::string& bdf,
                               const std::array<FakePciRegion, 6>& regions) {
  std::string text;
  for (int i = 0; i < kResourceLines; ++i) {
    const FakePciRegion region = i < 6 ? regions[static_cast<std::size_t>(i)] : FakePciRegion{};
    char line[80];
    std::snprintf(line, sizeof line, "0x%016" PRIx64 " 0x%016" PRIx64 " 0x%016" PRIx64 "\n",
                  region.start, region.end, region.flags);
    text += line;
  }
  writeSysFile(devicePath(bdf) + "/resource", text);
}

void FakeSysfs::addNetInterface(const std::string& bdf, const std::string& name,
                                const std::string& macAddress) {
  writeSysFile(devicePath(bdf) + "/net/" + name + "/address", macAddress + "\n");
}

void FakeSysfs::addDriver(const std::string& name, const std::string& version) {
  const std::string driver = "/sys/bus/pci/drivers/" + name;
  if (!fileExists(hostPath(driver + "/bind"))) writeSysFile(driver + "/bind", "");
  if (!fileExists(hostPath(driver + "/unbind"))) writeSysFile(driver + "/unbind", "");
  writeSysFile("/sys/module/" + name + "/version", version);
  const fs::path module = hostPath(driver + "/module");
  if (!fs::is_symlink(module)) fs::create_directory_symlink("../../../../module/" + name, module);
}

void FakeSysfs::bindFunction(const std::string& bdf, const std::string& driver) {
  fs::create_directories(hostPath("/sys/bus/pci/drivers/" + driver));
  fs::create_directories(hostPath(devicePath(bdf)));
  const fs::path entry = hostPath("/sys/bus/pci/drivers/" + driver + "/" + bdf);
  if (!fs::is_symlink(entry)) fs::create_directory_symlink("../../devices/" + bdf, entry);
  const fs::path link = hostPath(devicePath(bdf) + "/driver");
  if (fs::is_symlink(link)) fs::remove(link);
  fs::create_directory_symlink("../../drivers/" + driver, link);
}

void FakeSysfs::addRegisterFile(const std::string& bdf, uint64_t size) {
  const std::string path = hostPath(devicePath(bdf) + "/resource0");
  writeFile(path, "");
  fs::resize_file(path, size);
}

void FakeSysfs::setBoardName(const std::string& text) {
  writeSysFile("/sys/devices/virtual/dmi/id/board_name", text);
}

void FakeSysfs::writeSysFile(std::string_view absolutePath, const std::string& contents) {
  writeFile(hostPath(absolutePath), contents);
}

std::string FakeSysfs::driverFile(const std::string& driver, const std::string& name) const {
  return readFile(hostPath("/sys/bus/pci/drivers/" + driver + "/" + name));
}

}  // namespace hlv::test
