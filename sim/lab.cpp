#include "sim/lab.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "sim/adapter_conf.h"

namespace hlv::sim {
namespace {

bool readTextFile(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  text = buffer.str();
  return !in.bad();
}

bool isDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> listDirectories(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    if (isDirectory(path + "/" + name)) names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

std::string absolutePath(const std::string& path) {
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

}  // namespace

Result<std::unique_ptr<Lab>> Lab::open(const std::string& root) {
  if (!isDirectory(root)) return fail(root + ": no lab there (not a directory)");
  std::unique_ptr<Lab> lab(new Lab(absolutePath(root)));
  const std::string adaptersDirectory = lab->root_ + "/adapters";
  for (const std::string& bdf : listDirectories(adaptersDirectory)) {
    auto entry = std::make_unique<LabAdapter>();
    entry->bdf = bdf;
    entry->directory = adaptersDirectory + "/" + bdf;
    const std::string confPath = entry->directory + "/adapter.conf";
    std::string text;
    if (readTextFile(confPath, text)) {
      const Result<> parsed = parseAdapterConf(text, entry->config);
      if (!parsed) return fail(confPath + ": " + parsed.error());
    } else if (access(confPath.c_str(), F_OK) == 0) {
      return fail(confPath + ": cannot read");
    }
    const std::string flashPath = entry->directory + "/flash.bin";
    struct stat flashInfo {};
    if (!entry->config.capacity.has_value() && !partModelFor(entry->config).known &&
        stat(flashPath.c_str(), &flashInfo) == 0 &&
        validGenericCapacity(static_cast<uint64_t>(flashInfo.st_size))) {
      // A part the table does not know is as large as the flash file made for it.
      entry->config.capacity = static_cast<uint32_t>(flashInfo.st_size);
    }
    const uint32_t capacity = partCapacity(entry->config);
    Result<MappedFlashFile> flashFile = MappedFlashFile::map(flashPath, capacity);
    if (!flashFile) return fail(flashFile.error());
    entry->flashFile = std::move(*flashFile);
    entry->adapter =
        std::make_unique<EmulatedAdapter>(entry->config, lab->clock_, entry->flashFile.bytes());
    lab->adapters_.push_back(std::move(entry));
  }
  return lab;
}

LabAdapter* Lab::adapter(std::string_view bdf) const {
  for (const std::unique_ptr<LabAdapter>& entry : adapters_) {
    if (entry->bdf == bdf) return entry.get();
  }
  return nullptr;
}

std::string formatStats(const AdapterStats& stats) {
  std::string text;
  const auto line = [&text](std::string_view key, uint64_t value) {
    text += std::string(key) + " = " + std::to_string(value) + "\n";
  };
  line("reg_reads", stats.regReads);
  line("reg_writes", stats.regWrites);
  line("unclaimed_accesses", stats.unclaimedAccesses);
  line("transfers", stats.transfers);
  line("commands", stats.commands);
  line("bytes_read", stats.bytesRead);
  line("bytes_programmed", stats.bytesProgrammed);
  line("erases_4k", stats.erases4k);
  line("erases_32k", stats.erases32k);
  line("erases_64k", stats.erases64k);
  line("erases_other", stats.erasesOther);
  line("modifying_transfers", stats.modifyingTransfers);
  line("violations", stats.violations);
  for (std::size_t i = 0; i < kViolationKinds; ++i) {
    line("violations_" + std::string(violationName(static_cast<Violation>(i))),
         stats.violationsByKind[i]);
  }
  line("virtual_us", stats.virtualNs / 1000);
  text += std::string("power_cut = ") + (stats.powerCut ? "yes" : "no") + "\n";
  line("power_cut_opcode", stats.powerCutOpcode);
  line("power_cut_address", stats.powerCutAddress);
  text += std::string("flash_fault = ") + (stats.flashFaultStruck ? "yes" : "no") + "\n";
  line("firmware_resets", stats.firmwareResets);
  line("firmware_boots", stats.firmwareBoots);
  line("phy_restarts", stats.phyRestarts);
  line("mdio_frames", stats.mdioFrames);
  line("firmware_mdio_uses", stats.firmwareMdioUses);
  text += std::string("semaphore_held_at_exit = ") + (stats.semaphoreHeld ? "yes" : "no") + "\n";
  return text;
}

Result<> Lab::writeStats() const {
  Result<> result;
  for (const std::unique_ptr<LabAdapter>& entry : adapters_) {
    const std::string path = entry->directory + "/stats";
    const std::string temporary = path + ".new";
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << formatStats(entry->adapter->stats());
    out.close();
    if (!out || std::rename(temporary.c_str(), path.c_str()) != 0) {
      result = fail(path + ": cannot write");
    }
  }
  return result;
}

}  // namespace hlv::sim
