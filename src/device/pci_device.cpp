#include "device/pci_device.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "device/pci_device_trace.h"
#include "device/sysfs_directory.h"
#include "platform/platform.h"

namespace hlv {
namespace {

namespace tp = trace_points::pci_device;

// sysfs attribute and resource files are read whole into a buffer of this size; one byte is
// always kept for the terminator so that the text can be converted safely.
constexpr std::size_t kSysfsBufferSize = 512;
// The driver's version line is read into a buffer of this size (at most 255 characters).
constexpr int kVersionLineBufferSize = 256;

int openForReading(const std::string& absolutePath) {
  return open(platform::current().hostPath(absolutePath).c_str(), O_RDONLY | O_CLOEXEC);
}

// Reads at most capacity - 1 bytes into a zero-filled buffer, so that its text stays
// terminated; the byte count, or -1 with errno.
ssize_t readLeavingTerminator(int fd, char* buffer, std::size_t capacity) {
  return read(fd, buffer, capacity - 1);
}

}  // namespace

bool initPciDevice(PciDevice& device, const std::string& sysfsPath) {
  releasePciDevice(device);
  device.domain = 0;
  device.bus = 0;
  device.device = 0;
  device.function = 0;
  device.vendorId = 0;
  device.deviceId = 0;
  device.subsystemDeviceId = 0;
  device.subsystemVendorId = 0;
  device.path = sysfsPath;
  device.resources = {};
  device.mapError = 0;
  readPciIds(device);
  return readPciResources(device);
}

void readPciIds(PciDevice& device) {
  readSysfsHex16(device.path + "/vendor", device.vendorId);
  readSysfsHex16(device.path + "/device", device.deviceId);
  readSysfsHex16(device.path + "/subsystem_device", device.subsystemDeviceId);
  readSysfsHex16(device.path + "/subsystem_vendor", device.subsystemVendorId);
}

bool readSysfsHex16(const std::string& path, uint16_t& value) {
  value = 0;
  const int fd = openForReading(path);
  if (fd < 0) {
    trace::emit(tp::kAttributeUnreadable, path, errno);
    return false;
  }
  char buffer[kSysfsBufferSize] = {};
  const ssize_t count = readLeavingTerminator(fd, buffer, sizeof buffer);
  if (count < 0) {
    trace::emit(tp::kAttributeUnreadable, path, errno);
    close(fd);
    return false;
  }
  // strtoul accepts the kernel's "0x" prefix and stops at the line feed; a text without digits
  // converts to 0.
  value = static_cast<uint16_t>(std::strtoul(buffer, nullptr, 16));
  close(fd);
  return true;
}

bool readPciResources(PciDevice& device) {
  const std::string path = device.path + "/resource";
  const int fd = openForReading(path);
  if (fd < 0) {
    trace::emit(tp::kResourceUnreadable, path, errno);
    return false;
  }
  char buffer[kSysfsBufferSize] = {};
  if (readLeavingTerminator(fd, buffer, sizeof buffer) < 0) {
    trace::emit(tp::kResourceUnreadable, path, errno);
    close(fd);
    return false;
  }
  // Each line is "start end flags" in hexadecimal. Every conversion starts where the previous one
  // stopped; the white space and line feeds between numbers are skipped by the conversion, and a
  // table that ends early reads as zeros.
  const char* cursor = buffer;
  auto next = [&cursor]() {
    char* end = nullptr;
    const unsigned long long number = std::strtoull(cursor, &end, 16);
    cursor = end;
    return static_cast<uint64_t>(number);
  };
  for (PciResource& resource : device.resources) {
    resource.start = next();
    const uint64_t end = next();
    // A line whose end lies below its start describes no usable region: size 0, never a
    // wrapped-around length.
    resource.size = end > resource.start ? end - resource.start + 1 : 0;
    resource.flags = next();
  }
  close(fd);
  return true;
}

std::string readInterfaceName(const PciDevice& device) {
  const auto names = listSysfsDirectory(device.path + "/net");
  if (!names || names->empty()) {
    trace::emit(tp::kNoNetworkInterface, device.path);
    return "unknown";
  }
  return names->front();
}

std::string readDriverVersion(const PciDevice& device) {
  const std::string path = platform::current().hostPath(device.path + "/driver/module/version");
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) {
    trace::emit(tp::kNoDriverVersion, device.path);
    return "unknown";
  }
  char line[kVersionLineBufferSize] = {};
  const bool haveLine = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  if (!haveLine) {
    trace::emit(tp::kNoDriverVersion, device.path);
    return "unknown";
  }
  return line;
}

void releasePciDevice(PciDevice& device) {
  device.window.reset();
  device.path.clear();
}

}  // namespace hlv
