// hlvquery's look at the machine: the adapters as the tool finds and reads them, each flash's
// state, and, given a bundle, what that bundle would offer each adapter. Nothing is written to
// any adapter and no log directory is made.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "app/adapter_entry.h"
#include "app/adapter_list.h"
#include "shared/flash_state.h"

namespace hlv {

struct QueriedAdapter {
  AdapterEntry entry;     // discovery, versions, image type; with a bundle its image and verdict
  bool examined = false;  // the tool's readout succeeded (otherwise entry.statusReason says why)
  std::optional<FlashState> flash;  // none when the flash could not be looked at
  uint32_t flashStatus = 0;         // readFlashState's answer
};

struct MachineQuery {
  std::vector<QueriedAdapter> adapters;
  bool bundleGiven = false;
  std::string bundle;  // its directory, ending in "/"
};

// Discovers the adapters, reads them as the tool does (and their flash states), and with a
// bundle directory (empty: none) evaluates its images for them as the tool's table would. False
// with `problem` set when the bundle's database cannot be loaded. What the loaders print for the
// tool's console goes to standard error here.
bool queryMachine(const std::string& bundle, const UpdaterOpener& openUpdater, MachineQuery& query,
                  std::string& problem);

// One run recorded under logs/, from its report.json.
struct RecordedRun {
  std::string directory;  // its name under logs/
  std::string startTime, endTime;
  std::string mode;
  std::optional<int> exitStatus;
  std::string exitMeaning;
  bool interrupted = false;
  struct Adapter {
    std::string pciAddress, name;
    std::optional<std::string> before, after;
    bool attempted = false;
    std::optional<uint32_t> result;
  };
  std::vector<Adapter> adapters;
};

// The runs whose reports lie in `toolDirectory` + "logs/", oldest first (by start time, then
// name). Only reports the tool wrote are read: regular files of root's own, mode 0600, in run
// directories that pass the tool's checks; anything else is left out.
std::vector<RecordedRun> readRunHistory(const std::string& toolDirectory);

}  // namespace hlv
