// A lab: emulated adapters on disk, shared by users, tests and the demo.
//
//   LAB/sys/...                  stands for "/sys" (PCI devices, drivers, DMI board name)
//   LAB/tool/                    the tool directory: bundle and "logs/"
//   LAB/adapters/<bdf>/flash.bin      the part's whole contents, written through
//   LAB/adapters/<bdf>/adapter.conf   the adapter's configuration (see adapter_conf.h)
//   LAB/adapters/<bdf>/stats          the counters of the last run
//
// flash.bin is mapped shared, so a run killed at any moment leaves exactly the flash state it
// reached. A missing flash.bin is created erased at the part's capacity; one of another size is
// an error, except that a part the identification table does not know and whose capacity is not
// configured takes the size of its flash file (a power of two from 64 KiB to 16 MiB). A missing
// adapter.conf means all defaults.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shared/result.h"
#include "sim/adapter_stats.h"
#include "sim/emulated_adapter.h"
#include "sim/mapped_flash_file.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

struct LabAdapter {
  std::string bdf;
  std::string directory;  // LAB/adapters/<bdf>
  AdapterConfig config;
  MappedFlashFile flashFile;                 // flash.bin
  std::unique_ptr<EmulatedAdapter> adapter;  // works on flashFile; destroyed before it
};

class Lab {
 public:
  // Loads every adapter of the lab at root. Fails, saying why, when the lab or one of its
  // adapters cannot be used.
  static Result<std::unique_ptr<Lab>> open(const std::string& root);
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  // The lab's absolute path, without a trailing "/".
  const std::string& root() const { return root_; }
  VirtualClock& clock() { return clock_; }
  const std::vector<std::unique_ptr<LabAdapter>>& adapters() const { return adapters_; }
  // The adapter of this PCI address, or null.
  LabAdapter* adapter(std::string_view bdf) const;

  // Writes every adapter's "stats" file; fails, naming the last, when one cannot be written.
  Result<> writeStats() const;

 private:
  explicit Lab(std::string root) : root_(std::move(root)) {}

  std::string root_;
  VirtualClock clock_;
  std::vector<std::unique_ptr<LabAdapter>> adapters_;
};

// The stats file's text: `key = value` lines.
std::string formatStats(const AdapterStats& stats);

}  // namespace hlv::sim
