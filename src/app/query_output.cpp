#include "app/query_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/run_report.h"
#include "app/status_meanings.h"
#include "app/tool_version.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "platform/directory.h"

namespace hlv {
namespace {

using Json = nlohmann::ordered_json;

std::string hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
  return text;
}

std::string versionOr(const std::optional<FirmwareVersion>& version, const char* none) {
  return version ? version->toString() : none;
}

const AdapterInfo& infoOf(const QueriedAdapter& adapter) {
  static const AdapterInfo kNone;
  return adapter.entry.adapter ? *adapter.entry.adapter : kNone;
}

const char* statusName(AdapterStatus status) {
  switch (status) {
    case AdapterStatus::Available:
      return "Available";
    case AdapterStatus::NotRequired:
      return "Not required";
    case AdapterStatus::NotAvailable:
      return "Not available";
  }
  return "?";
}

// The bundle's verdict as the tool's table shows it.
std::string bundleColumn(const QueriedAdapter& adapter) {
  const AdapterEntry& entry = adapter.entry;
  if (entry.status == AdapterStatus::Available && entry.selectedImage) {
    return "Available: " + entry.selectedImage->version().toString();
  }
  return statusName(entry.status);
}

bool updateAvailable(const QueriedAdapter& adapter) {
  return adapter.entry.status == AdapterStatus::Available && adapter.entry.selectedImage;
}

std::optional<FirmwareVersion> running(const QueriedAdapter& adapter) {
  if (adapter.flash && adapter.flash->running) return adapter.flash->running;
  if (adapter.entry.firmwareRead) return adapter.entry.currentVersion;
  return std::nullopt;
}

// The previous firmware as the tool's readout gives it (none when the other bank holds none).
std::optional<FirmwareVersion> previous(const QueriedAdapter& adapter) {
  if (!adapter.entry.firmwareRead || adapter.entry.previousVersion.isZero()) return std::nullopt;
  return adapter.entry.previousVersion;
}

std::string pad(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// A label value of the text format: backslash, double quote and line feed escaped; other control
// characters and every byte outside ASCII (sysfs texts are bytes) as "?", so that the file stays
// valid UTF-8 whatever the adapter's name holds.
std::string labelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte >= 0x7F) {
      out += '?';
    } else {
      out += c;
    }
  }
  return out;
}

std::string labels(const QueriedAdapter& adapter) {
  const AdapterInfo& info = infoOf(adapter);
  return "bdf=\"" + labelValue(info.bdf) + "\",ifname=\"" + labelValue(adapter.entry.name()) + "\"";
}

void metric(std::string& out, const char* name, const char* type, const char* help) {
  out += std::string("# HELP ") + name + " " + help + "\n";
  out += std::string("# TYPE ") + name + " " + type + "\n";
}

// Seconds since the epoch of "YYYY-MM-DDTHH:MM:SSZ"; none for anything else.
std::optional<long long> epochSeconds(const std::string& text) {
  std::tm parts{};
  if (text.size() != 20 || strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts) == nullptr) {
    return std::nullopt;
  }
  return static_cast<long long>(timegm(&parts));
}

}  // namespace

std::string formatQueryTable(const MachineQuery& query) {
  std::size_t nameWidth = 4;
  for (const QueriedAdapter& adapter : query.adapters)
    nameWidth = std::max(nameWidth, adapter.entry.name().size());
  std::string out = "No  " + pad("Name", nameWidth) +
                    "  PCI address   Device         Firmware  Previous  Block  Layout  "
                    "Components  Rollback";
  if (query.bundleGiven) out += "  Bundle";
  out += "\n";
  for (const QueriedAdapter& adapter : query.adapters) {
    const AdapterInfo& info = infoOf(adapter);
    const FlashState* flash = adapter.flash ? &*adapter.flash : nullptr;
    std::string line = pad(std::to_string(adapter.entry.index + 1), 2) + "  " +
                       pad(adapter.entry.name(), nameWidth) + "  " + pad(info.bdf, 12) + "  " +
                       hex4(info.deviceId) + "-" + hex4(info.subsystemDeviceId) +
                       hex4(info.subsystemVendorId) + "  " +
                       pad(versionOr(running(adapter), "?"), 8) + "  " +
                       pad(versionOr(previous(adapter), "none"), 8) + "  ";
    line += pad(flash && flash->activeNcb ? "NCB" + std::to_string(*flash->activeNcb) : "none", 5);
    line += "  " + pad(flash && flash->layout ? std::to_string(*flash->layout) : "?", 6) + "  ";
    line +=
        pad(!flash || !flash->componentsOk ? "?" : (*flash->componentsOk ? "ok" : "DAMAGED"), 10);
    line += "  ";
    line += !flash ? "?" : (flash->rollbackStatus == 0 ? "yes" : "no");
    if (query.bundleGiven) line = pad(line, out.find('\n') - 8) + "  " + bundleColumn(adapter);
    out += line + "\n";
    if (!adapter.examined && !adapter.entry.statusReason.empty()) {
      out += "    " + adapter.entry.statusReason + "\n";
    } else if (query.bundleGiven && !adapter.entry.statusReason.empty()) {
      out += "    " + adapter.entry.statusReason + "\n";
    }
  }
  if (query.adapters.empty()) out += "(no adapter of the maker found)\n";
  return out;
}

std::string formatQueryJson(const MachineQuery& query, const std::string& hostName,
                            std::time_t time) {
  Json out;
  out["schema_version"] = kQuerySchemaVersion;
  out["tool"] = "hlvquery";
  out["tool_version"] = FirmwareVersion{kVersionMajor, kVersionMinor, kVersionBuild}.toString();
  out["host_name"] = hostName;
  out["time"] = isoUtcTime(time);
  out["bundle"] = query.bundleGiven ? Json(query.bundle) : Json(nullptr);
  Json adapters = Json::array();
  for (const QueriedAdapter& adapter : query.adapters) {
    const AdapterEntry& entry = adapter.entry;
    const AdapterInfo& info = infoOf(adapter);
    Json a;
    a["index"] = entry.index;
    a["pci_address"] = info.bdf;
    a["interface_name"] = entry.name();
    a["hwid"] = "VEN_" + hex4(info.vendorId) + "&DEV_" + hex4(info.deviceId) + "&SUBSYS_" +
                hex4(info.subsystemDeviceId) + hex4(info.subsystemVendorId);
    a["vendor_id"] = hex4(info.vendorId);
    a["device_id"] = hex4(info.deviceId);
    a["subsystem_vendor_id"] = hex4(info.subsystemVendorId);
    a["subsystem_device_id"] = hex4(info.subsystemDeviceId);
    a["mac_address"] = info.macAddress;
    a["driver_version"] = info.driverVersion;
    a["readable"] = adapter.examined;
    a["problem"] = adapter.examined ? Json(nullptr) : Json(entry.statusReason);
    const std::optional<FirmwareVersion> now = running(adapter), before = previous(adapter);
    a["running_firmware"] = now ? Json(now->toString()) : Json(nullptr);
    a["previous_firmware"] = before ? Json(before->toString()) : Json(nullptr);
    a["takes_image_type"] = entry.imageType != 0 ? Json(entry.imageType) : Json(nullptr);
    if (adapter.flash) {
      const FlashState& flash = *adapter.flash;
      Json f;
      f["status"] = adapter.flashStatus;
      f["meaning"] = statusMeaning(StatusKind::kEngine, adapter.flashStatus);
      f["active_ncb"] = flash.activeNcb ? Json(*flash.activeNcb) : Json(nullptr);
      f["layout"] = flash.layout ? Json(*flash.layout) : Json(nullptr);
      f["components_ok"] = flash.componentsOk ? Json(*flash.componentsOk) : Json(nullptr);
      f["rollback_possible"] = flash.rollbackStatus == 0;
      f["rollback_status"] = flash.rollbackStatus;
      f["rollback_meaning"] = statusMeaning(StatusKind::kEngine, flash.rollbackStatus);
      f["rollback_version"] = flash.previous ? Json(flash.previous->toString()) : Json(nullptr);
      a["flash"] = std::move(f);
    } else {
      a["flash"] = nullptr;
    }
    if (query.bundleGiven) {
      Json b;
      b["status"] = statusName(entry.status);
      b["status_reason"] = entry.statusReason.empty() ? Json(nullptr) : Json(entry.statusReason);
      b["update_available"] = updateAvailable(adapter);
      b["board_entry"] = entry.boardEntry.empty() ? Json(nullptr) : Json(entry.boardEntry);
      if (const VoImageFile* image = entry.selectedImage.get()) {
        b["image"] =
            Json{{"file", entry.imageName},
                 {"version", image->version().toString()},
                 {"type", image->type()},
                 {"sha256", image->digest() ? Json(sha256Hex(*image->digest())) : Json(nullptr)}};
      } else {
        b["image"] = entry.imageName.empty() ? Json(nullptr)
                                             : Json{{"file", entry.imageName},
                                                    {"version", nullptr},
                                                    {"type", nullptr},
                                                    {"sha256", nullptr}};
      }
      b["key_check"] = entry.keyCheck
                           ? Json{{"status", *entry.keyCheck}, {"accepted", *entry.keyCheck == 0}}
                           : Json(nullptr);
      a["bundle"] = std::move(b);
    } else {
      a["bundle"] = nullptr;
    }
    adapters.push_back(std::move(a));
  }
  out["adapters"] = std::move(adapters);
  return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string formatPrometheus(const MachineQuery& query, const std::vector<RecordedRun>& runs) {
  std::string out;
  metric(out, "hlv_adapters", "gauge", "Adapters of the maker found on the machine.");
  out += "hlv_adapters " + std::to_string(query.adapters.size()) + "\n";

  metric(out, "hlv_adapter_firmware_info", "gauge",
         "The firmware an adapter runs and the one a rollback would restore (always 1).");
  for (const QueriedAdapter& adapter : query.adapters) {
    const AdapterInfo& info = infoOf(adapter);
    out += "hlv_adapter_firmware_info{" + labels(adapter) + ",device=\"" + hex4(info.deviceId) +
           "\",version=\"" + versionOr(running(adapter), "") + "\",previous=\"" +
           versionOr(previous(adapter), "") + "\"} 1\n";
  }
  metric(out, "hlv_adapter_readable", "gauge",
         "1 when the tool can read the adapter's firmware versions.");
  for (const QueriedAdapter& adapter : query.adapters)
    out += "hlv_adapter_readable{" + labels(adapter) + "} " + (adapter.examined ? "1" : "0") + "\n";
  metric(out, "hlv_adapter_components_ok", "gauge",
         "1 when every component of the running firmware matches its CRC.");
  for (const QueriedAdapter& adapter : query.adapters) {
    const bool ok = adapter.flash && adapter.flash->componentsOk.value_or(false);
    out += "hlv_adapter_components_ok{" + labels(adapter) + "} " + (ok ? "1" : "0") + "\n";
  }
  metric(out, "hlv_adapter_rollback_possible", "gauge",
         "1 when the previous firmware is a usable rollback target.");
  for (const QueriedAdapter& adapter : query.adapters) {
    const bool possible = adapter.flash && adapter.flash->rollbackStatus == 0;
    out +=
        "hlv_adapter_rollback_possible{" + labels(adapter) + "} " + (possible ? "1" : "0") + "\n";
  }
  if (query.bundleGiven) {
    metric(out, "hlv_update_available", "gauge", "1 when the bundle would update the adapter.");
    for (const QueriedAdapter& adapter : query.adapters) {
      const VoImageFile* image = adapter.entry.selectedImage.get();
      out += "hlv_update_available{" + labels(adapter) + ",image_version=\"" +
             (image ? image->version().toString() : "") + "\"} " +
             (updateAvailable(adapter) ? "1" : "0") + "\n";
    }
  }
  if (!runs.empty()) {
    const RecordedRun& last = runs.back();
    if (last.exitStatus) {
      metric(out, "hlv_last_run_status", "gauge",
             "Exit status of the newest run of hlvflashupdate recorded under logs/.");
      out += "hlv_last_run_status " + std::to_string(*last.exitStatus) + "\n";
    }
    if (const std::optional<long long> ended = epochSeconds(last.endTime)) {
      metric(out, "hlv_last_run_timestamp_seconds", "gauge",
             "When the newest recorded run of hlvflashupdate ended.");
      out += "hlv_last_run_timestamp_seconds " + std::to_string(*ended) + "\n";
    }
  }
  return out;
}

std::string formatHistoryText(const std::vector<RecordedRun>& runs) {
  std::string out;
  for (const RecordedRun& run : runs) {
    out += run.startTime + "  " + run.mode + "  exit status " +
           (run.exitStatus ? std::to_string(*run.exitStatus) : "?") + ": " + run.exitMeaning +
           "  (logs/" + run.directory + "/)\n";
    for (const RecordedRun::Adapter& a : run.adapters) {
      if (!a.attempted) continue;
      out += "    " + a.pciAddress + " " + a.name + ": " + a.before.value_or("?") + " -> " +
             a.after.value_or("?") +
             (a.result ? (*a.result == 0 ? "" : ", result " + std::to_string(*a.result))
                       : ", not finished") +
             "\n";
    }
  }
  if (runs.empty()) out += "(no run recorded under logs/)\n";
  return out;
}

std::string formatHistoryJson(const std::vector<RecordedRun>& runs) {
  Json list = Json::array();
  for (const RecordedRun& run : runs) {
    Json r;
    r["log_directory"] = run.directory;
    r["start_time"] = run.startTime;
    r["end_time"] = run.endTime;
    r["mode"] = run.mode;
    r["exit_status"] = run.exitStatus ? Json(*run.exitStatus) : Json(nullptr);
    r["exit_meaning"] = run.exitMeaning;
    r["interrupted"] = run.interrupted;
    Json adapters = Json::array();
    for (const RecordedRun::Adapter& a : run.adapters) {
      adapters.push_back(Json{{"pci_address", a.pciAddress},
                              {"interface_name", a.name},
                              {"attempted", a.attempted},
                              {"result", a.result ? Json(*a.result) : Json(nullptr)},
                              {"firmware_before", a.before ? Json(*a.before) : Json(nullptr)},
                              {"firmware_after", a.after ? Json(*a.after) : Json(nullptr)}});
    }
    r["adapters"] = std::move(adapters);
    list.push_back(std::move(r));
  }
  return Json{{"runs", std::move(list)}}.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

int writeMetricsFile(const std::string& path, const std::string& text, std::string& problem) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path file = fs::absolute(path, error).lexically_normal();
  const fs::path directory = file.parent_path();
  const std::string name = file.filename().string();
  if (error || name.empty() || !platform::isPlainName(name) || directory == directory.root_path()) {
    problem = path + ": not a file in a directory of its own";
    return EINVAL;
  }
  platform::FileProblem refused;
  const platform::Directory parent =
      platform::Directory::openAsNamed(directory.parent_path().string(), refused);
  const platform::Directory target =
      parent.isOpen() ? parent.openExisting(directory.filename().string(), refused)
                      : platform::Directory();
  if (!target.isOpen()) {
    problem = refused.path + " " + refused.reason;
    return refused.error != 0 ? refused.error : EPERM;
  }
  // node_exporter reads only names that end in ".prom": it never sees the file half written.
  const std::string temporary = "." + name + "." + std::to_string(getpid()) + ".tmp";
  int failure = 0;
  platform::NewFile written = target.createFile(temporary, failure);
  if (!written.isOpen()) {
    problem = target.path() + temporary + " could not be made: " + std::strerror(failure);
    return failure;
  }
  // node_exporter reads the file as its own user: the metrics (adapters and firmware versions,
  // nothing secret) are readable by all, unlike the tool's other files.
  if (fchmod(written.descriptor(), 0644) != 0 || !written.writeAll(text.data(), text.size()) ||
      !written.sync() || !written.close() || !target.renameFile(temporary, name) ||
      !target.sync()) {
    failure = errno != 0 ? errno : EIO;
    written = {};
    (void)target.removeFile(temporary);
    problem = target.path() + name + " not written: " + std::strerror(failure);
    return failure;
  }
  return 0;
}

}  // namespace hlv
