// hlvsim lab capture LAB [--sys DIR]: a lab describing a real machine's adapters, read from its
// sysfs through the tool's own readers. Nothing is mapped and no register is touched: the
// platform used here refuses every mapping, so the command needs no more than read access to
// sysfs.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bundle/bdp_lookup.h"
#include "bundle/database_entry.h"
#include "device/driver_control.h"
#include "device/pci_discovery.h"
#include "device/sysfs_directory.h"
#include "platform/linux_platform.h"
#include "sim/lab_writer.h"
#include "tools/hlvsim/commands.h"

namespace hlv::sim::tool {
namespace {

constexpr const char* kDevicesDirectory = "/sys/bus/pci/devices";

// The machine's "/sys" at another place (a copy, or the real one), and no register window ever.
class SysfsReadingPlatform final : public platform::LinuxPlatform {
 public:
  explicit SysfsReadingPlatform(std::string sysRoot) : sysRoot_(std::move(sysRoot)) {}

  std::string hostPath(std::string_view absolutePath) const override {
    constexpr std::string_view kSys = "/sys";
    if (absolutePath.substr(0, kSys.size()) == kSys &&
        (absolutePath.size() == kSys.size() || absolutePath[kSys.size()] == '/')) {
      return sysRoot_ + std::string(absolutePath.substr(kSys.size()));
    }
    return std::string(absolutePath);
  }
  platform::RegisterWindow mapRegisterWindow(const std::string&, uint64_t) override {
    return {-1, nullptr, EPERM};
  }
  void unmapRegisterWindow(const platform::RegisterWindow&, uint64_t) override {}

 private:
  std::string sysRoot_;
};

// A name read from sysfs that becomes a file name in the lab.
bool usableFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.size() <= NAME_MAX;
}

// The driver the lab binds the function to. Whether the tool can restart the function's driver
// is decided by the tool's own rule (owningDriver: the driver's directory lists the function),
// so the lab agrees with the machine on it. A function bound to another driver keeps it, so
// that the lab shows that driver's version too; the tool restarts none of those. Empty when the
// function is bound to none, or to one of the tool's drivers whose directory does not list it.
std::string labDriver(const std::string& bdf, const std::string& functionPath) {
  if (const char* owner = owningDriver(bdf)) return owner;
  // "<function>/driver" links to the driver's directory.
  const std::string link = platform::current().hostPath(functionPath + "/driver");
  char target[PATH_MAX] = {};
  const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
  if (length <= 0) return {};
  std::string text(target, static_cast<std::size_t>(length));
  while (!text.empty() && text.back() == '/')
    text.pop_back();
  const std::string name = text.substr(text.rfind('/') + 1);
  const bool restartable =
      std::find(std::begin(kDriverNames), std::end(kDriverNames), name) != std::end(kDriverNames);
  return usableFileName(name) && !restartable ? name : std::string();
}

// Region lines as the kernel writes them, from the regions as the tool read them.
std::array<PciRegion, 6> regionsOf(const PciDevice& device) {
  std::array<PciRegion, 6> regions{};
  for (std::size_t i = 0; i < regions.size(); ++i) {
    const PciResource& resource = device.resources[i];
    const uint64_t end = resource.size == 0 ? resource.start : resource.start + (resource.size - 1);
    regions[i] = {resource.start, end, resource.flags};
  }
  return regions;
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

int labCaptureCommand(const Arguments& args) {
  Arguments positional;
  std::string sysRoot = "/sys";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--sys" && i + 1 < args.size()) {
      sysRoot = args[++i];
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 1 || positional[0].rfind("--", 0) == 0) {
    complain("usage: hlvsim lab capture LAB [--sys DIR]");
    return kExitUsage;
  }
  const std::string& root = positional[0];
  if (!isDirectory(sysRoot)) {
    complain(sysRoot + ": not a directory");
    return kExitFailed;
  }
  SysfsReadingPlatform machine(sysRoot);
  const platform::ScopedPlatform scoped(machine);
  if (!listSysfsDirectory(kDevicesDirectory)) {
    complain(machine.hostPath(kDevicesDirectory) + ": cannot be listed: " + std::strerror(errno));
    return kExitFailed;
  }

  CapturedMachine captured;
  SystemInfoCache systemInfo;
  captured.boardName = systemIdValue(systemInfo, kSystemIdBaseboard);
  for (const std::unique_ptr<AdapterInfo>& adapter : discoverAdapters()) {
    CapturedFunction function;
    function.bdf = adapter->bdf;
    function.vendorId = adapter->vendorId;
    function.deviceId = adapter->deviceId;
    function.subsystemVendorId = adapter->subsystemVendorId;
    function.subsystemDeviceId = adapter->subsystemDeviceId;
    PciDevice device;
    initPciDevice(device, adapter->sysfsPath);
    function.regions = regionsOf(device);
    // The tool calls an adapter without an interface "unknown": only a listed one is taken.
    const auto interfaces = listSysfsDirectory(adapter->sysfsPath + "/net");
    if (interfaces && !interfaces->empty() && usableFileName(adapter->interfaceName)) {
      function.interfaceName = adapter->interfaceName;
      function.macAddress = adapter->macAddress;
      while (!function.macAddress.empty() && function.macAddress.back() == '\n')
        function.macAddress.pop_back();
    }
    function.driver = labDriver(adapter->bdf, adapter->sysfsPath);
    function.driverVersion = adapter->driverVersion;
    captured.functions.push_back(std::move(function));
  }

  if (const Result<> written = writeCapturedLab(root, captured); !written) {
    complain(written.error());
    return kExitFailed;
  }
  if (captured.functions.empty()) {
    complain("note: no adapter of the maker under " + machine.hostPath(kDevicesDirectory));
  }
  // Each adapter with the name the tool gives it, which its backup files carry.
  for (const CapturedFunction& function : captured.functions) {
    std::printf("%s %s\n", function.bdf.c_str(),
                function.interfaceName.empty() ? "unknown" : function.interfaceName.c_str());
  }
  return kExitOk;
}

}  // namespace hlv::sim::tool
