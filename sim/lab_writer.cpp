#include "sim/lab_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "sim/adapter_conf.h"
#include "sim/flash_part_model.h"
#include "sim/lab.h"

namespace hlv::sim {
namespace {

// Creates the directory and its parents.
bool makeDirectories(const std::string& path, std::string& error) {
  std::string partial;
  std::size_t position = 0;
  while (position != std::string::npos) {
    position = path.find('/', position + 1);
    partial = path.substr(0, position);
    if (partial.empty()) continue;
    if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
      error = partial + ": cannot create: " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

bool writeText(const std::string& path, const std::string& text, std::string& error) {
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && !makeDirectories(path.substr(0, slash), error)) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    error = path + ": cannot write";
    return false;
  }
  return true;
}

bool symlinkTo(const std::string& target, const std::string& link, std::string& error) {
  unlink(link.c_str());
  if (symlink(target.c_str(), link.c_str()) != 0) {
    error = link + ": cannot link: " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string hex16(uint16_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x\n", value);
  return text;
}

std::string resourceText() {
  // Thirteen lines as the kernel lists them: the six regions first, region 0 in use.
  std::string text;
  char line[80];
  for (int i = 0; i < 13; ++i) {
    const uint64_t start = i == 0 ? kLabRegion0Start : 0;
    const uint64_t end = i == 0 ? kLabRegion0Start + kLabRegion0Size - 1 : 0;
    const uint64_t flags = i == 0 ? 0x00140204 : 0;
    std::snprintf(line, sizeof line, "0x%016" PRIx64 " 0x%016" PRIx64 " 0x%016" PRIx64 "\n", start,
                  end, flags);
    text += line;
  }
  return text;
}

bool writeFunction(const std::string& sys, const LabFunction& adapter, std::string& error) {
  const std::string device = sys + "/bus/pci/devices/" + adapter.bdf;
  if (!writeText(device + "/vendor", hex16(adapter.vendorId), error) ||
      !writeText(device + "/device", hex16(adapter.deviceId), error) ||
      !writeText(device + "/subsystem_vendor", hex16(adapter.subsystemVendorId), error) ||
      !writeText(device + "/subsystem_device", hex16(adapter.subsystemDeviceId), error) ||
      !writeText(device + "/resource", resourceText(), error)) {
    return false;
  }
  if (!adapter.interfaceName.empty() &&
      !writeText(device + "/net/" + adapter.interfaceName + "/address", adapter.macAddress + "\n",
                 error)) {
    return false;
  }
  if (!adapter.driver.empty()) {
    const std::string driver = sys + "/bus/pci/drivers/" + adapter.driver;
    if (!symlinkTo("../../drivers/" + adapter.driver, device + "/driver", error) ||
        !symlinkTo("../../devices/" + adapter.bdf, driver + "/" + adapter.bdf, error)) {
      return false;
    }
  }
  return true;
}

bool writeDriver(const std::string& sys, const std::string& name, const std::string& version,
                 std::string& error) {
  const std::string driver = sys + "/bus/pci/drivers/" + name;
  if (!writeText(driver + "/bind", "", error) || !writeText(driver + "/unbind", "", error) ||
      !writeText(sys + "/module/" + name + "/version", version, error)) {
    return false;
  }
  return symlinkTo("../../../../module/" + name, driver + "/module", error);
}

}  // namespace

LabDescription defaultLab(unsigned count, const AdapterConfig& config) {
  LabDescription description;
  for (unsigned i = 0; i < count; ++i) {
    const unsigned bus = i + 1;
    LabFunction adapter;
    char text[32];
    std::snprintf(text, sizeof text, "0000:%02x:00.0", bus & 0xFF);
    adapter.bdf = text;
    std::snprintf(text, sizeof text, "enp%us0", bus);
    adapter.interfaceName = text;
    std::snprintf(text, sizeof text, "02:00:00:00:%02x:00", bus & 0xFF);
    adapter.macAddress = text;
    adapter.config = config;
    description.adapters.push_back(adapter);
  }
  return description;
}

bool writeLab(const std::string& root, const LabDescription& description, std::string& error) {
  struct stat info {};
  if (stat((root + "/sys").c_str(), &info) == 0 || stat((root + "/adapters").c_str(), &info) == 0) {
    error = root + ": a lab already exists there";
    return false;
  }
  const std::string sys = root + "/sys";
  if (!makeDirectories(sys + "/bus/pci/devices", error) ||
      !makeDirectories(root + "/tool", error) ||
      !writeText(sys + "/devices/virtual/dmi/id/board_name", description.boardName, error)) {
    return false;
  }
  for (const LabFunction& adapter : description.adapters) {
    if (!adapter.driver.empty()) {
      struct stat driverInfo {};
      if (stat((sys + "/bus/pci/drivers/" + adapter.driver).c_str(), &driverInfo) != 0 &&
          !writeDriver(sys, adapter.driver, description.driverVersion, error)) {
        return false;
      }
    }
    if (!writeFunction(sys, adapter, error)) return false;
    const std::string directory = root + "/adapters/" + adapter.bdf;
    if (!writeText(directory + "/adapter.conf", formatAdapterConf(adapter.config), error)) {
      return false;
    }
    const std::span<uint8_t> flash =
        mapFlashFile(directory + "/flash.bin", partCapacity(adapter.config), error);
    if (flash.data() == nullptr) return false;
    unmapFlashFile(flash);
  }
  return true;
}

}  // namespace hlv::sim
