// Writes a new lab: the sysfs tree of its PCI functions (identifiers, region 0, network
// interface, bound driver with its version), the machine's board name, an empty tool directory,
// and one adapter directory per function with its adapter.conf and an erased flash.bin.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/result.h"
#include "sim/adapter_config.h"
#include "sim/machine_writer.h"

namespace hlv::sim {

// A PCI function of the lab (region 0 of 4 MiB, "enp1s0", "02:00:00:00:01:00", bound to
// "halvern") and the emulated adapter behind it.
struct LabFunction : PciFunction {
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
Result<> writeLab(const std::string& root, const LabDescription& description);

// A machine as its own sysfs describes it: what `hlvsim lab capture` reads.
struct CapturedFunction : PciFunction {
  std::string driverVersion;  // the bound driver's version file, as read
};
struct CapturedMachine {
  std::vector<CapturedFunction> functions;
  std::string boardName;  // as read, line feed included; no board name file when empty
};

// Writes a lab of the machine at root (refused if it already holds a lab): its sysfs and an
// empty tool directory, but no adapter directories: each adapter's flash is added afterwards,
// and until then the tool finds its function and cannot map it.
Result<> writeCapturedLab(const std::string& root, const CapturedMachine& machine);

}  // namespace hlv::sim
