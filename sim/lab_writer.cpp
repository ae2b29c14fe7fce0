#include "sim/lab_writer.h"

#include <sys/stat.h>

#include <cstdio>

#include "sim/adapter_conf.h"
#include "sim/flash_part_model.h"
#include "sim/mapped_flash_file.h"

namespace hlv::sim {

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

namespace {

Result<> refuseExistingLab(const std::string& root) {
  struct stat info {};
  if (stat((root + "/sys").c_str(), &info) == 0 || stat((root + "/adapters").c_str(), &info) == 0) {
    return fail(root + ": a lab already exists there");
  }
  return {};
}

}  // namespace

Result<> writeLab(const std::string& root, const LabDescription& description) {
  if (Result<> fresh = refuseExistingLab(root); !fresh) return fresh;
  MachineWriter machine(root);
  if (Result<> made = machine.makeDirectory("/sys/bus/pci/devices"); !made) return made;
  if (Result<> made = machine.makeDirectory("/tool"); !made) return made;
  if (Result<> written = machine.setBoardName(description.boardName); !written) return written;
  for (const LabFunction& adapter : description.adapters) {
    if (Result<> written = machine.addFunction(adapter, description.driverVersion); !written) {
      return written;
    }
    const std::string directory = "/adapters/" + adapter.bdf;
    const Result<> conf =
        machine.writeFile(directory + "/adapter.conf", formatAdapterConf(adapter.config));
    if (!conf) return conf;
    // Mapping creates the flash file, erased.
    const Result<MappedFlashFile> flash = MappedFlashFile::map(
        machine.hostPath(directory + "/flash.bin"), partCapacity(adapter.config));
    if (!flash) return fail(flash.error());
  }
  return {};
}

Result<> writeCapturedLab(const std::string& root, const CapturedMachine& captured) {
  if (Result<> fresh = refuseExistingLab(root); !fresh) return fresh;
  MachineWriter machine(root);
  if (Result<> made = machine.makeDirectory("/sys/bus/pci/devices"); !made) return made;
  if (Result<> made = machine.makeDirectory("/tool"); !made) return made;
  if (!captured.boardName.empty()) {
    if (Result<> written = machine.setBoardName(captured.boardName); !written) return written;
  }
  for (const CapturedFunction& function : captured.functions) {
    if (Result<> written = machine.addFunction(function, function.driverVersion); !written) {
      return written;
    }
  }
  return {};
}

}  // namespace hlv::sim
