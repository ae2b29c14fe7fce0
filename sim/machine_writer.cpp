#include "sim/machine_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace hlv::sim {
namespace {

// The kernel lists the six base address registers, the expansion ROM and the six SR-IOV
// registers: 13 lines.
constexpr int kResourceLines = 13;

std::string hexAttribute(uint16_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x\n", value);
  return text;
}

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Creates the directory and its parents.
Result<> makeDirectories(const std::string& path) {
  std::size_t position = 0;
  while (position != std::string::npos) {
    position = path.find('/', position + 1);
    const std::string partial = path.substr(0, position);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      return fail(partial + ": cannot create: " + std::strerror(errno));
    }
  }
  return {};
}

}  // namespace

std::string MachineWriter::hostPath(std::string_view absolutePath) const {
  return root_ + std::string(absolutePath);
}

std::string MachineWriter::devicePath(const std::string& bdf) {
  return "/sys/bus/pci/devices/" + bdf;
}

Result<> MachineWriter::addFunction(const PciFunction& function, const std::string& driverVersion) {
  if (Result<> written = writeIds(function); !written) return written;
  if (Result<> written = writeResources(function.bdf, function.regions); !written) return written;
  if (!function.interfaceName.empty()) {
    const Result<> written =
        addNetInterface(function.bdf, function.interfaceName, function.macAddress);
    if (!written) return written;
  }
  if (function.driver.empty()) return {};
  if (Result<> written = addDriver(function.driver, driverVersion); !written) return written;
  return bindFunction(function.bdf, function.driver);
}

Result<> MachineWriter::writeIds(const PciFunction& function) {
  const std::string device = devicePath(function.bdf);
  const std::pair<const char*, uint16_t> ids[] = {
      {"/vendor", function.vendorId},
      {"/device", function.deviceId},
      {"/subsystem_vendor", function.subsystemVendorId},
      {"/subsystem_device", function.subsystemDeviceId},
  };
  for (const auto& [name, value] : ids) {
    if (Result<> written = writeFile(device + name, hexAttribute(value)); !written) return written;
  }
  return {};
}

Result<> MachineWriter::writeResources(const std::string& bdf,
                                       const std::array<PciRegion, 6>& regions) {
  std::string text;
  for (int i = 0; i < kResourceLines; ++i) {
    const PciRegion region = i < 6 ? regions[static_cast<std::size_t>(i)] : PciRegion{};
    char line[80];
    std::snprintf(line, sizeof line, "0x%016" PRIx64 " 0x%016" PRIx64 " 0x%016" PRIx64 "\n",
                  region.start, region.end, region.flags);
    text += line;
  }
  return writeFile(devicePath(bdf) + "/resource", text);
}

Result<> MachineWriter::addNetInterface(const std::string& bdf, const std::string& name,
                                        const std::string& macAddress) {
  return writeFile(devicePath(bdf) + "/net/" + name + "/address", macAddress + "\n");
}

Result<> MachineWriter::addDriver(const std::string& name, const std::string& version) {
  const std::string driver = "/sys/bus/pci/drivers/" + name;
  for (const char* file : {"/bind", "/unbind"}) {
    if (exists(hostPath(driver + file))) continue;
    if (Result<> written = writeFile(driver + file, ""); !written) return written;
  }
  if (Result<> written = writeFile("/sys/module/" + name + "/version", version); !written) {
    return written;
  }
  return linkTo("../../../../module/" + name, driver + "/module");
}

Result<> MachineWriter::bindFunction(const std::string& bdf, const std::string& driver) {
  const std::string driverDirectory = "/sys/bus/pci/drivers/" + driver;
  if (Result<> made = makeDirectory(driverDirectory); !made) return made;
  if (Result<> made = makeDirectory(devicePath(bdf)); !made) return made;
  if (Result<> linked = linkTo("../../devices/" + bdf, driverDirectory + "/" + bdf); !linked) {
    return linked;
  }
  return linkTo("../../drivers/" + driver, devicePath(bdf) + "/driver");
}

Result<> MachineWriter::setBoardName(const std::string& text) {
  return writeFile("/sys/devices/virtual/dmi/id/board_name", text);
}

Result<> MachineWriter::writeFile(std::string_view absolutePath, const std::string& contents) {
  const std::string path = hostPath(absolutePath);
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash != 0) {
    if (Result<> made = makeDirectories(path.substr(0, slash)); !made) return made;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  out.close();
  if (!out) return fail(path + ": cannot write");
  return {};
}

Result<> MachineWriter::makeDirectory(std::string_view absolutePath) {
  return makeDirectories(hostPath(absolutePath));
}

Result<> MachineWriter::linkTo(const std::string& target, std::string_view link) {
  const std::string path = hostPath(link);
  unlink(path.c_str());
  if (symlink(target.c_str(), path.c_str()) != 0) {
    return fail(path + ": cannot link: " + std::strerror(errno));
  }
  return {};
}

}  // namespace hlv::sim
