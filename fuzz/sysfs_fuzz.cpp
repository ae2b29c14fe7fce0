// The readers of a PCI function's sysfs files: the identifiers ("vendor", "device",
// "subsystem_vendor", "subsystem_device"), the resource table and the driver's version file,
// each one piece of the input (pieces are cut at zero bytes).
#include <sys/stat.h>

#include <cstdint>
#include <span>
#include <string>

#include "device/pci_device.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string function = [] {
    const std::string path = hlv::fuzz::scratchDirectory() + "/0000:01:00.0";
    mkdir(path.c_str(), 0755);
    mkdir((path + "/driver").c_str(), 0755);
    mkdir((path + "/driver/module").c_str(), 0755);
    return path;
  }();
  static const char* const kFiles[] = {"vendor",   "device",
                                       "subsystem_vendor", "subsystem_device",
                                       "resource", "driver/module/version"};
  const auto pieces = hlv::fuzz::splitPieces(std::span(data, size), std::size(kFiles));
  for (std::size_t i = 0; i < std::size(kFiles); ++i)
    hlv::fuzz::writeWholeFile(function + "/" + kFiles[i], pieces[i]);
  hlv::PciDevice device;
  hlv::initPciDevice(device, function);
  hlv::readDriverVersion(device);
  return 0;
}
