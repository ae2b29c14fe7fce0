#include "tools/hlvsim/adapter_command.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "app/interrupt_handler.h"
#include "engine/firmware_key_check.h"
#include "shared/hex_bytes.h"
#include "update/direct_flash_update.h"
#include "update/firmware_control.h"

namespace hlv::sim::tool {
namespace {

using Subcommand = int (*)(LabAdapter&, DirectFlashUpdate&, const Arguments&);

// The whole file, or none when it cannot be opened or read.
std::optional<std::vector<uint8_t>> readImage(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) {
    complain(path + ": cannot open");
    return std::nullopt;
  }
  std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  if (in.bad()) {
    complain(path + ": cannot read");
    return std::nullopt;
  }
  return image;
}

int statusLine(uint32_t status) {
  std::printf("status %" PRIu32 "\n", status);
  return status == 0 ? kExitOk : kExitFailed;
}

void reportPowerLoss(const LabAdapter& entry, const char* during) {
  if (entry.adapter->poweredOff())
    complain(entry.bdf + ": the adapter lost power during the " + during);
}

// update IMAGE [--mac HEX] [--phy HEX] [--reload]
int update(LabAdapter& entry, DirectFlashUpdate& updater, const Arguments& args) {
  if (args.empty()) {
    complain("update takes the image file, then --mac HEX, --phy HEX and --reload");
    return kExitUsage;
  }
  std::vector<uint8_t> macData;
  std::vector<uint8_t> phyData;
  bool reload = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (option == "--reload") {
      reload = true;
      continue;
    }
    if ((option != "--mac" && option != "--phy") || i + 1 >= args.size()) {
      complain("update: unknown or incomplete option '" + option + "'");
      return kExitUsage;
    }
    const std::optional<std::vector<uint8_t>> bytes = parseHexBytes(args[++i]);
    if (!bytes) {
      complain("update: " + option + " takes hex digits, two per byte");
      return kExitUsage;
    }
    (option == "--mac" ? macData : phyData) = *bytes;
  }
  const std::optional<std::vector<uint8_t>> image = readImage(args[0]);
  if (!image) return kExitFailed;
  const uint32_t status = updater.update(image->data(), static_cast<uint32_t>(image->size()),
                                         std::string(macData.begin(), macData.end()),
                                         std::string(phyData.begin(), phyData.end()));
  const int exitStatus = statusLine(status);
  reportPowerLoss(entry, "update");
  if (status != 0 || !reload) return exitStatus;
  const uint32_t reloaded = updater.reloadFirmware(false);
  std::printf("reload %" PRIu32 "\n", reloaded);
  return reloaded == 0 ? kExitOk : kExitFailed;
}

int rollback(LabAdapter& entry, DirectFlashUpdate& updater, const Arguments& args) {
  if (!args.empty()) {
    complain("rollback takes no arguments");
    return kExitUsage;
  }
  const int exitStatus = statusLine(updater.rollbackFirmware());
  reportPowerLoss(entry, "rollback");
  return exitStatus;
}

int versions(LabAdapter& /*entry*/, DirectFlashUpdate& updater, const Arguments& args) {
  if (!args.empty()) {
    complain("versions takes no arguments");
    return kExitUsage;
  }
  // No readout gives a major version above 4: the marker stays only where nothing was read.
  constexpr FirmwareVersion kNone{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  FirmwareVersion current = kNone;
  FirmwareVersion previous = kNone;
  const uint32_t status = updater.getFirmwareVersions(current, &previous);
  std::printf("current %s\n", current == kNone ? "none" : current.toString().c_str());
  std::printf("previous %s\n", previous == kNone ? "none" : previous.toString().c_str());
  return statusLine(status);
}

// backup OUT: the size first, then the whole flash.
int backup(LabAdapter& entry, DirectFlashUpdate& updater, const Arguments& args) {
  if (args.size() != 1) {
    complain("backup takes one argument: the output file");
    return kExitUsage;
  }
  uint32_t required = 0;
  uint32_t status = updater.readFlashContents(nullptr, 0, required);
  std::vector<uint8_t> contents;
  if (status == 8) {
    contents.resize(required);
    status = updater.readFlashContents(contents.data(), required, required);
  }
  if (status == 0 && !writeOutputFile(args[0], contents)) return kExitFailed;
  const int exitStatus = statusLine(status);
  reportPowerLoss(entry, "backup");
  return exitStatus;
}

// reload: the reload sequence itself, without an update before it.
int reload(LabAdapter& /*entry*/, DirectFlashUpdate& updater, const Arguments& args) {
  if (!args.empty()) {
    complain("reload takes no arguments");
    return kExitUsage;
  }
  return statusLine(reloadFirmwareSequence(*updater.registers(), false));
}

int keycheck(LabAdapter& /*entry*/, DirectFlashUpdate& updater, const Arguments& args) {
  if (args.size() != 1) {
    complain("keycheck takes one argument: the image file");
    return kExitUsage;
  }
  const std::optional<std::vector<uint8_t>> image = readImage(args[0]);
  if (!image) return kExitFailed;
  const bool accepted = checkFirmwareKey(*updater.registers(), *image);
  std::printf("key %s\n", accepted ? "accepted" : "refused");
  return accepted ? kExitOk : kExitFailed;
}

struct Entry {
  std::string_view name;
  Subcommand run;
};

constexpr Entry kSubcommands[] = {
    {"update", update}, {"rollback", rollback}, {"versions", versions},
    {"backup", backup}, {"reload", reload},     {"keycheck", keycheck},
};

bool exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

}  // namespace

bool isAdapterSubcommand(std::string_view name) {
  for (const Entry& entry : kSubcommands) {
    if (entry.name == name) return true;
  }
  return false;
}

int runAdapterSubcommand(Lab& lab, LabAdapter& entry, std::string_view name,
                         const Arguments& args) {
  const std::string function = "/sys/bus/pci/devices/" + entry.bdf;
  if (!exists(lab.root() + function + "/resource")) {
    complain(entry.bdf + ": no PCI function of that address in " + lab.root() + "/sys");
    return kExitFailed;
  }
  installInterruptHandler();
  DirectFlashUpdate updater(function);
  for (const Entry& subcommand : kSubcommands) {
    if (subcommand.name == name) return subcommand.run(entry, updater, args);
  }
  return kExitUsage;
}

}  // namespace hlv::sim::tool
