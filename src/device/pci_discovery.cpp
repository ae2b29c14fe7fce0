#include "device/pci_discovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "device/pci_discovery_trace.h"
#include "device/sysfs_directory.h"
#include "platform/platform.h"

namespace hlv {
namespace {

namespace tp = trace_points::pci_discovery;

constexpr const char* kPciDevicesDirectory = "/sys/bus/pci/devices";
// "02:00:00:aa:bb:cc": the address file is read no further than this.
constexpr std::size_t kMacAddressLength = 17;

std::string formatBdf(const PciDevice& device) {
  // Domain, bus, device and function are 16, 8, 8 and 8 bits wide, so the text has at most
  // 13 characters and always fits.
  char text[14] = {};
  std::snprintf(text, sizeof text, "%04x:%02x:%02x.%1x", unsigned{device.domain},
                unsigned{device.bus}, unsigned{device.device}, unsigned{device.function});
  return text;
}

std::string readMacAddress(const PciDevice& device, const std::string& interfaceName) {
  const std::string path = device.path + "/net/" + interfaceName + "/address";
  const int fd = open(platform::current().hostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    trace::emit(tp::kMacUnreadable, path, errno);
    return {};
  }
  char text[kMacAddressLength + 1] = {};
  const ssize_t count = read(fd, text, kMacAddressLength);
  const int readError = errno;
  close(fd);
  if (count < 0) {
    trace::emit(tp::kMacUnreadable, path, readError);
    return {};
  }
  return std::string(text, strnlen(text, static_cast<std::size_t>(count)));
}

std::unique_ptr<AdapterInfo> describeAdapter(const PciDevice& device) {
  auto adapter = std::make_unique<AdapterInfo>();
  adapter->vendorId = device.vendorId;
  adapter->deviceId = device.deviceId;
  adapter->subsystemDeviceId = device.subsystemDeviceId;
  adapter->subsystemVendorId = device.subsystemVendorId;
  adapter->bdf = formatBdf(device);
  adapter->interfaceName = readInterfaceName(device);
  adapter->macAddress = readMacAddress(device, adapter->interfaceName);
  adapter->sysfsPath = device.path;
  adapter->driverVersion = readDriverVersion(device);
  trace::emit(tp::kAdapterFound, adapter->bdf, adapter->interfaceName, adapter->macAddress,
              adapter->driverVersion);
  return adapter;
}

}  // namespace

bool scanPciDevices(const std::string& directory, std::vector<PciDevice>& devices) {
  trace::emit(tp::kScanStarted, directory);
  const auto names = listSysfsDirectory(directory);
  if (!names) {
    trace::emit(tp::kScanFailed, directory);
    return false;
  }
  for (const std::string& name : *names) {
    unsigned domain = 0, bus = 0, device = 0, function = 0;
    // Entry names are NUL-terminated; the field widths keep every number within its field.
    if (std::sscanf(name.c_str(), "%04x:%02x:%02x.%01x", &domain, &bus, &device, &function) != 4) {
      trace::emit(tp::kEntryNotAnAddress, name);
      continue;
    }
    PciDevice pci;
    pci.path = directory + "/" + name;
    pci.domain = static_cast<uint16_t>(domain);
    pci.bus = static_cast<uint8_t>(bus);
    pci.device = static_cast<uint8_t>(device);
    pci.function = static_cast<uint8_t>(function);
    readPciIds(pci);
    readPciResources(pci);  // an unreadable table stays zero; the function is still listed
    trace::emit(tp::kFunctionFound, pci.path, pci.vendorId, pci.deviceId, pci.subsystemDeviceId,
                pci.subsystemVendorId);
    devices.push_back(std::move(pci));
  }
  return !devices.empty();
}

AdapterList discoverAdapters() {
  AdapterList adapters;
  try {
    std::vector<PciDevice> devices;
    scanPciDevices(kPciDevicesDirectory, devices);
    const std::size_t functionCount = devices.size();
    std::erase_if(devices,
                  [](const PciDevice& device) { return device.vendorId != kTessarinVendorId; });
    for (const PciDevice& device : devices)
      adapters.push_back(describeAdapter(device));
    trace::emit(tp::kDiscoveryDone, static_cast<uint32_t>(adapters.size()),
                static_cast<uint32_t>(functionCount));
  } catch (const std::exception& error) {
    // Out of memory while listing: report no adapter rather than a partial list.
    adapters.clear();
    trace::emit(tp::kDiscoveryFailed, error.what());
  }
  return adapters;
}

}  // namespace hlv
