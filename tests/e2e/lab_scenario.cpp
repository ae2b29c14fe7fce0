#include "tests/e2e/lab_scenario.h"

#include <sys/ipc.h>
#include <sys/sem.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "tests/support/files.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::test {
namespace {

namespace fs = std::filesystem;

// The tool's single-instance key is derived from a file of this name in its working directory:
// each lab's runs get a key of their own.
constexpr const char* kInstanceKeyFile = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";
// How far ahead of a run its log directory is prepared when earlier files are wanted in it.
constexpr int kPreparedSeconds = 60;

std::string hex16(uint16_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04x\n", unsigned{value});
  return text;
}

std::vector<uint8_t> bytesOfHex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  return bytes;
}

int instanceSemaphore(const std::string& keyFile) {
  return semget(ftok(keyFile.c_str(), 0), 0, 0);
}

void removeInstanceSemaphore(const std::string& keyFile) {
  const int id = instanceSemaphore(keyFile);
  if (id != -1) semctl(id, 0, IPC_RMID);
}

std::string logStamp(time_t when) {
  char name[32] = {};
  struct tm local {};
  localtime_r(&when, &local);
  std::strftime(name, sizeof name, "%Y%m%d_%H-%M-%S", &local);
  return name;
}

}  // namespace

std::vector<uint8_t> macBytes() {
  return bytesOfHex(kMacHex);
}
std::vector<uint8_t> phyBytes() {
  return bytesOfHex(kPhyHex);
}

LabAdapter typeOneLayoutAdapter(const std::string& name, FirmwareVersion running) {
  LabAdapter adapter;
  adapter.name = name;
  adapter.flash = image::typeOneFlashSpec();
  adapter.flash.ncbs[0].firmware.version = running;
  adapter.running = running;
  return adapter;
}

LabAdapter typeTwoLayoutAdapter(const std::string& name, FirmwareVersion running) {
  LabAdapter adapter;
  adapter.name = name;
  adapter.flash.ncbs[0].firmware.version = running;
  adapter.running = running;
  return adapter;
}

LabAdapter updatedAdapter(const std::string& name, FirmwareVersion previous,
                          FirmwareVersion running) {
  LabAdapter adapter;
  adapter.name = name;
  adapter.flash = image::updatedFlashSpec(previous, running);
  adapter.running = running;
  adapter.previous = previous;
  return adapter;
}

LabAdapter typeTwoDevice(LabAdapter adapter) {
  adapter.deviceId = 0x21C3;
  for (image::NcbSpec& ncb : adapter.flash.ncbs)
    ncb.deviceId = 0x21C3;
  return adapter;
}

LabAdapter offered(LabAdapter adapter, const std::string& image, StatusText status) {
  adapter.image = image;
  adapter.status = std::move(status);
  return adapter;
}

FirmwareVersion BundleImage::version() const {
  return spec.ncbs[0].firmware.version;
}

BundleImage bundleImage(const std::string& file, FirmwareVersion version, uint16_t deviceId) {
  BundleImage image{file, {}};
  for (image::NcbSpec& ncb : image.spec.ncbs) {
    ncb.firmware.version = version;
    ncb.deviceId = deviceId;
  }
  image.spec.ncbs[0].seed = 7;
  return image;
}

std::string boardEntry(const std::string& id, uint16_t deviceId, uint16_t subsystemDeviceId,
                       uint16_t subsystemVendorId, const std::string& image) {
  char hwid[96];
  std::snprintf(hwid, sizeof hwid, R"(<hwid vid="1E9C" did="%04X" sdid="%04X" svid="%04X"/>)",
                unsigned{deviceId}, unsigned{subsystemDeviceId}, unsigned{subsystemVendorId});
  return "  <bdp id=\"" + id + "\">\n    <hwids>" + hwid + "</hwids>\n    <mac>" +
         std::string(kMacHex) + "</mac>\n    <phy>" + kPhyHex + "</phy>\n    <image>" + image +
         "</image>\n  </bdp>\n";
}

std::string database(const std::string& entries) {
  return "<?xml version=\"1.0\"?>\n<bdpDatabase>\n  <version>e2e</version>\n" + entries +
         "</bdpDatabase>\n";
}

Lab::Lab(const TempDir& directory, const LabSpec& spec) : directory_(directory), spec_(spec) {
  const std::string lab = directory / "lab";
  const ProcessResult init =
      runProcess(builtProgram("hlvsim"),
                 {"lab", "init", lab, "--adapters", std::to_string(spec.adapters.size())});
  if (init.exitStatus != 0) throw std::runtime_error("hlvsim lab init: " + init.err);
  root_ = fs::canonical(lab).string();

  for (std::size_t i = 0; i < spec.adapters.size(); ++i) {
    const LabAdapter& adapter = spec.adapters[i];
    const std::string device = sysDevice(i);
    writeFile(device + "/device", hex16(adapter.deviceId));
    writeFile(device + "/subsystem_device", hex16(adapter.subsystemDeviceId));
    writeFile(device + "/subsystem_vendor", hex16(adapter.subsystemVendorId));
    const std::string initialInterface = device + "/net/enp" + std::to_string(i + 1) + "s0";
    if (adapter.name.empty()) {
      fs::remove_all(device + "/net");
    } else if (adapter.name != fs::path(initialInterface).filename()) {
      fs::rename(initialInterface, device + "/net/" + adapter.name);
    }
    const std::string adapterDirectory = root_ + "/adapters/" + bdf(i);
    before_.push_back(image::buildImage(adapter.flash));
    writeBinaryFile(adapterDirectory + "/flash.bin", before_.back());
    // Time is not what these runs test: the command engine's words are kept short.
    conf_.push_back(readFile(adapterDirectory + "/adapter.conf") + "engine_busy_us = 1\n" +
                    adapter.conf);
    writeFile(adapterDirectory + "/adapter.conf", conf_.back());
  }
  writeFile(root_ + "/sys/devices/virtual/dmi/id/board_name", spec.boardName);
  for (const auto& [path, contents] : spec.machineFiles)
    writeFile(root_ + "/" + path, contents);
  for (const BundleImage& image : spec.images)
    writeBinaryFile(root_ + "/tool/" + image.file, image::buildImage(image.spec));
  writeFile(root_ + "/tool/updatedata.xml", spec.database);
}

Lab::~Lab() {
  if (fileExists(instanceKeyFile())) removeInstanceSemaphore(instanceKeyFile());
}

std::string Lab::bdf(std::size_t adapter) const {
  char text[16];
  std::snprintf(text, sizeof text, "0000:%02x:00.0", static_cast<unsigned>(adapter + 1));
  return text;
}

std::string Lab::mac(std::size_t adapter) const {
  if (spec_.adapters[adapter].name.empty()) return "";
  char text[24];
  std::snprintf(text, sizeof text, "02:00:00:00:%02x:00", static_cast<unsigned>(adapter + 1));
  return text;
}

std::string Lab::displayName(std::size_t adapter) const {
  const std::string& name = spec_.adapters[adapter].name;
  return name.empty() ? "unknown" : name;
}

std::vector<uint8_t> Lab::imageBytes(const std::string& file) const {
  return readBinaryFile(root_ + "/tool/" + file);
}

ProcessResult Lab::run(const RunOptions& options) {
  const std::string work = directory_ / "work";
  writeFile(instanceKeyFile(), "");
  if (!options.keepInstanceMarker) removeInstanceSemaphore(instanceKeyFile());
  if (!options.earlierFiles.empty() || options.plantRunDirectory) {
    const time_t now = time(nullptr);
    for (int second = -1; second <= kPreparedSeconds; ++second) {
      const std::string runDirectory = root_ + "/tool/logs/" + logStamp(now + second);
      for (const std::string& file : options.earlierFiles)
        writeFile(runDirectory + "/" + file, kEarlierFile);
      if (options.plantRunDirectory) options.plantRunDirectory(runDirectory);
    }
  }

  const std::set<std::string> before = runDirectories();

  std::vector<std::string> args = {"run", root_, "--"};
  args.insert(args.end(), options.args.begin(), options.args.end());
  ProcessOptions process;
  process.input = options.input;
  process.workDir = options.workDir.value_or(work);
  process.fileSizeLimit = options.fileSizeLimit;
  process.errorOnTerminal = options.errorOnTerminal;
  process.umask = options.umask;
  process.outputClosed = options.outputClosed;
  process.timeoutSeconds = 300;
  const ProcessResult result = runProcess(builtProgram("hlvsim"), args, process);
  if (!options.keepInstanceMarker) removeInstanceSemaphore(instanceKeyFile());
  // The run's directory is the one it made: several runs of a lab may share a second.
  lastRunDirectory_.clear();
  for (const std::string& name : runDirectories()) {
    if (!before.contains(name)) lastRunDirectory_ = root_ + "/tool/logs/" + name + "/";
  }
  return result;
}

std::set<std::string> Lab::runDirectories() const {
  std::set<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(root_ + "/tool/logs", error), end; !error && entry != end;
       entry.increment(error))
    names.insert(entry->path().filename().string());
  return names;
}

void Lab::setAddedConf(std::size_t adapter, const std::string& lines) {
  writeFile(root_ + "/adapters/" + bdf(adapter) + "/adapter.conf", conf_[adapter] + lines);
}

std::string Lab::instanceKeyFile() const {
  return directory_ / ("work/" + std::string(kInstanceKeyFile));
}

Lab::InstanceMarker Lab::instanceMarker() const {
  if (!fileExists(instanceKeyFile())) return {};
  const int id = instanceSemaphore(instanceKeyFile());
  if (id == -1) return {};
  return {.exists = true, .held = semctl(id, 0, GETVAL) == 1};
}

std::vector<uint8_t> Lab::flashAfter(std::size_t adapter) const {
  return readBinaryFile(root_ + "/adapters/" + bdf(adapter) + "/flash.bin");
}

std::string Lab::stats(std::size_t adapter) const {
  return readFile(root_ + "/adapters/" + bdf(adapter) + "/stats");
}

std::string Lab::logDirectory() const {
  if (!lastRunDirectory_.empty()) {
    const bool traced = fs::is_regular_file(fs::symlink_status(lastRunDirectory_ + "voflashupdatelog.etl"));
    return traced ? lastRunDirectory_ : "";
  }
  const std::string logs = root_ + "/tool/logs";
  if (!fs::is_directory(logs)) return "";
  for (const fs::directory_entry& entry : fs::directory_iterator(logs)) {
    // A trace file, not a link someone planted in its place.
    if (fs::is_regular_file(fs::symlink_status(entry.path() / "voflashupdatelog.etl")))
      return entry.path().string() + "/";
  }
  return "";
}

std::string Lab::driverFile(const std::string& name) const {
  return readFile(root_ + "/sys/bus/pci/drivers/halvern/" + name);
}

std::string Lab::sysDevice(std::size_t adapter) const {
  return root_ + "/sys/bus/pci/devices/" + bdf(adapter);
}

std::string Expect::table(bool rollbackMode) const {
  std::vector<TableRow> rows;
  const std::vector<LabAdapter>& adapters = lab_.spec().adapters;
  for (std::size_t i = 0; i < adapters.size(); ++i) {
    const LabAdapter& a = adapters[i];
    StatusText status = a.status;
    if (rollbackMode) {
      status = a.previous.isZero() ? notAvailableStatus() : availableStatus(a.previous);
    }
    rows.push_back({lab_.displayName(i), a.running, status, a.deviceId, a.subsystemDeviceId,
                    a.subsystemVendorId, lab_.mac(i)});
  }
  return adapterTable(rows, rollbackMode);
}

UpdateBlock Expect::block(std::size_t adapter) const {
  const LabAdapter& a = lab_.spec().adapters[adapter];
  UpdateBlock block;
  block.name = lab_.displayName(adapter);
  block.deviceId = a.deviceId;
  block.subsystemDeviceId = a.subsystemDeviceId;
  block.subsystemVendorId = a.subsystemVendorId;
  for (const BundleImage& image : lab_.spec().images) {
    if (image.file == a.image) block.newVersion = image.version();
  }
  const bool typeTwo =
      a.deviceId == 0x21C3 || a.deviceId == 0x22C3 || a.deviceId == 0xA1C3 || a.deviceId == 0xA2C3;
  block.reload = typeTwo ? UpdateBlock::Reload::kNotTried : UpdateBlock::Reload::kSucceeded;
  return block;
}

}  // namespace hlv::test
