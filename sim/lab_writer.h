// Writes a new lab: the sysfs tree of its PCI functions (identifiers, region 0, network
// interface, bound driver with its version), the machine's board name, an empty tool directory,
// and one adapter directory per function with its adapter.conf and an erased flash.bin.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/adapter_config.h"

namespace hlv::sim {

struct LabFunction {
  std::string bdf;  // "0000:01:00.0"
  uint16_t vendorId = 0x1E9C;
  uint16_t deviceId = 0x20C3;
  uint16_t subsystemVendorId = 0x1E9C;
  uint16_t subsystemDeviceId = 0x0001;
  std::string interfaceName;  // "enp1s0"
  std::string macAddress;     // "02:00:00:00:01:00"
  std::string driver = "halvern";
  AdapterConfig config;
};

struct LabDescription {
  std::vector<LabFunction> adapters;
  std::string boardName = "EMULATED-BOARD\n";
  std::string driverVersion = "2.4.1\n";
};

// count adapters on buses 1, 2, ... with names and MAC addresses derived from the bus.
LabDescription defaultLab(unsigned count, const AdapterConfig& config);

// Writes the lab at root (created if missing; refused if it already holds a lab).
bool writeLab(const std::string& root, const LabDescription& description, std::string& error);

// Region 0 of every lab function: 4 MiB of memory.
inline constexpr uint64_t kLabRegion0Start = 0xFB000000;
inline constexpr uint64_t kLabRegion0Size = 0x400000;

}  // namespace hlv::sim
