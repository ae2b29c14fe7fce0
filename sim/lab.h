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

#include "sim/adapter_stats.h"
#include "sim/emulated_adapter.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

struct LabAdapter {
  std::string bdf;
  std::string directory;  // LAB/adapters/<bdf>
  AdapterConfig config;
  std::span<uint8_t> flashFile;  // the mapped flash.bin
  std::unique_ptr<EmulatedAdapter> adapter;
};

class Lab {
 public:
  // Loads every adapter of the lab at root. Null with a message when the lab or one of its
  // adapters cannot be used.
  static std::unique_ptr<Lab> open(const std::string& root, std::string& error);
  ~Lab();
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  // The lab's absolute path, without a trailing "/".
  const std::string& root() const { return root_; }
  VirtualClock& clock() { return clock_; }
  const std::vector<std::unique_ptr<LabAdapter>>& adapters() const { return adapters_; }
  // The adapter of this PCI address, or null.
  LabAdapter* adapter(std::string_view bdf) const;

  // Writes every adapter's "stats" file; false with a message when one cannot be written.
  bool writeStats(std::string& error) const;

 private:
  explicit Lab(std::string root) : root_(std::move(root)) {}

  std::string root_;
  VirtualClock clock_;
  std::vector<std::unique_ptr<LabAdapter>> adapters_;
};

// The stats file's text: `key = value` lines.
std::string formatStats(const AdapterStats& stats);

// Maps the flash file shared, creating it erased (0xFF) at size bytes when it does not exist.
// An empty span with a message when it cannot be opened or mapped or has another size.
std::span<uint8_t> mapFlashFile(const std::string& path, uint32_t size, std::string& error);
void unmapFlashFile(std::span<uint8_t> mapping);

}  // namespace hlv::sim
