// A lab for runs of the whole tool, built the way the lab's documented layout allows anyone to
// build one: `hlvsim lab init`, then per adapter its PCI identifiers, its network interface, its
// flash and its adapter.conf, the machine's board name, and the update bundle in the tool
// directory. The tool then runs on it through `hlvsim run` with scripted standard input.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "shared/firmware_version.h"
#include "tests/support/operator_texts.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tools/hlvimage/image_spec.h"

namespace hlv::test {

struct LabAdapter {
  std::string name;  // its network interface; empty: none (the tool then calls it "unknown")
  uint16_t deviceId = 0x20C3;
  uint16_t subsystemDeviceId = 0x1F70;
  uint16_t subsystemVendorId = 0x1028;  // a board the tool may update
  image::ImageSpec flash;
  FirmwareVersion running;   // what the flash runs
  FirmwareVersion previous;  // what a rollback would restore; all zero: nothing
  std::string conf;          // adapter.conf lines of its own
  StatusText status;         // its status in the update table
  std::string image;         // the bundle image it is offered, if any
};

// The flashes the adapters start from (2 MiB parts).
LabAdapter typeOneLayoutAdapter(const std::string& name, FirmwareVersion running);
LabAdapter typeTwoLayoutAdapter(const std::string& name, FirmwareVersion running);
LabAdapter updatedAdapter(const std::string& name, FirmwareVersion previous,
                          FirmwareVersion running);
// The adapter as a model that takes type-2 images (PCI device 0x21C3), its flash saying so too.
LabAdapter typeTwoDevice(LabAdapter adapter);
// The adapter offered the bundle's image `image`, with the status the update table shows for it.
LabAdapter offered(LabAdapter adapter, const std::string& image, StatusText status);

struct BundleImage {
  std::string file;
  image::ImageSpec spec;
  FirmwareVersion version() const;
};

// An image of that version for that PCI device, with other firmware bytes than the flashes hold.
BundleImage bundleImage(const std::string& file, FirmwareVersion version,
                        uint16_t deviceId = 0x20C3);

struct LabSpec {
  std::vector<LabAdapter> adapters;
  std::vector<BundleImage> images;
  std::string database;  // "updatedata.xml"
  std::string boardName = "EMULATED-BOARD\n";
  // Other files of the machine, by their path under the lab ("sys/kernel/security/lockdown").
  std::vector<std::pair<std::string, std::string>> machineFiles = {};
};

// The configuration bytes every board entry of the tests' databases carries, as hex text and as
// the bytes the update writes: records as a board without its own records takes them, each
// ending with its terminator (four zero bytes for the MAC data, two for the PHY data).
inline constexpr char kMacHex[] = "020000008C00000005000000FF0000001200000000000000";
inline constexpr char kPhyHex[] = "0300880007000F0001000000";
std::vector<uint8_t> macBytes();
std::vector<uint8_t> phyBytes();

// A "bdp" element for one PCI identity (vendor 0x1E9C).
std::string boardEntry(const std::string& id, uint16_t deviceId, uint16_t subsystemDeviceId,
                       uint16_t subsystemVendorId, const std::string& image);
std::string database(const std::string& entries);

struct RunOptions {
  std::vector<std::string> args = {};
  std::string input = "";
  std::optional<unsigned long> fileSizeLimit = {};
  // Files an earlier run left in the directory named for the second this run starts in (it
  // started in the same second); each holds kEarlierFile.
  std::vector<std::string> earlierFiles = {};
  // Called before the run with the path of the directory named for each second the run may start
  // in, none of them made: what an earlier run, or anyone, left where this run would write.
  std::function<void(const std::string& runDirectory)> plantRunDirectory = {};
  // The umask the tool runs with (otherwise the test's).
  std::optional<mode_t> umask = {};
  // Standard error is a terminal (its text in the result's err).
  bool errorOnTerminal = false;
  // The single-instance marker is left as it is: one an earlier run of this lab left stays for
  // this run to find, and the one this run leaves stays after it (otherwise it is removed
  // before and after the run; the lab removes it in the end).
  bool keepInstanceMarker = false;
  // The run's working directory instead of the lab's own (which holds the file the single-instance
  // marker's key is derived from).
  std::optional<std::string> workDir = {};
  // Standard output is a pipe nobody reads (see ProcessOptions::outputClosed).
  bool outputClosed = false;
};
inline const std::string kEarlierFile = "an earlier run's file\n";

class Lab {
 public:
  Lab(const TempDir& directory, const LabSpec& spec);
  ~Lab();
  Lab(const Lab&) = delete;
  Lab& operator=(const Lab&) = delete;

  const LabSpec& spec() const { return spec_; }
  std::string root() const { return root_; }
  std::string bdf(std::size_t adapter) const;
  std::string mac(std::size_t adapter) const;
  std::string displayName(std::size_t adapter) const;  // as the tool shows it
  std::vector<uint8_t> imageBytes(const std::string& file) const;

  ProcessResult run(const RunOptions& options);

  // Replaces the adapter.conf lines added since the lab was built (power cuts, kills) with
  // `lines`; the adapter's own lines from its description stay.
  void setAddedConf(std::size_t adapter, const std::string& lines);

  // The single-instance marker of this lab's runs: whether one is there, and whether a live
  // process holds it.
  struct InstanceMarker {
    bool exists = false;
    bool held = false;
  };
  InstanceMarker instanceMarker() const;

  // After the run.
  const std::vector<uint8_t>& flashBefore(std::size_t adapter) const { return before_[adapter]; }
  std::vector<uint8_t> flashAfter(std::size_t adapter) const;
  std::string stats(std::size_t adapter) const;
  // The last run's log directory (the one it made), with its trailing "/"; empty if it made none
  // or left no trace in it.
  std::string logDirectory() const;
  std::string driverFile(const std::string& name) const;  // "bind" or "unbind" of halvern

 private:
  std::string sysDevice(std::size_t adapter) const;
  std::string instanceKeyFile() const;
  std::set<std::string> runDirectories() const;  // the names under tool/logs/

  const TempDir& directory_;
  LabSpec spec_;
  std::string root_;
  std::vector<std::vector<uint8_t>> before_;
  std::vector<std::string> conf_;  // each adapter's adapter.conf as the lab was built
  std::string lastRunDirectory_;   // made by the last run, with its trailing "/"
};

// What the run's console is meant to show, from the lab's description.
class Expect {
 public:
  Expect(const Lab& lab) : lab_(lab) {}
  std::string table(bool rollbackMode = false) const;
  // The adapter's block after a successful update: a type-1 adapter's firmware is reloaded.
  UpdateBlock block(std::size_t adapter) const;
  std::string name(std::size_t adapter) const { return lab_.displayName(adapter); }
  const LabAdapter& adapter(std::size_t adapter) const { return lab_.spec().adapters[adapter]; }
  std::string logDirectory() const { return lab_.logDirectory(); }

 private:
  const Lab& lab_;
};

}  // namespace hlv::test
