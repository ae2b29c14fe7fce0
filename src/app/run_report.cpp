#include "app/run_report.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>

#include "app/exit_status.h"
#include "app/run_report_trace.h"
#include "app/status_meanings.h"
#include "app/tool_version.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"

namespace hlv {
namespace tp = trace_points::run_report;
namespace {

using Json = nlohmann::ordered_json;

// The report is written under this name and takes its own only once whole and on the disk.
constexpr const char* kIncompleteName = "report.json.incomplete";

std::string hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(value));
  return text;
}

std::string toolVersion() {
  return FirmwareVersion{kVersionMajor, kVersionMinor, kVersionBuild}.toString();
}

Json statusObject(uint32_t status, StatusKind kind) {
  return Json{{"status", status}, {"meaning", statusMeaning(kind, status)}};
}

// The meaning of an update's or a rollback's result, knowing whether its backup failed.
std::string resultMeaning(const AdapterOutcome& outcome, bool rollback) {
  const uint32_t result = *outcome.result;
  if (outcome.backupStatus && *outcome.backupStatus != 0) {
    return "the backup failed, the flash was not touched: " +
           statusMeaning(StatusKind::kBackup, *outcome.backupStatus);
  }
  return statusMeaning(rollback ? StatusKind::kRollback : StatusKind::kUpdate, result);
}

// What the exit status says, from how the session ended.
std::string exitMeaning(const RunFacts& facts) {
  switch (facts.end) {
    case RunEnd::kNotEnded:
      return "the run ended without recording how";
    case RunEnd::kDatabaseNotLoaded:
      return "updatedata.xml is missing or cannot be read";
    case RunEnd::kNoAdapterFound:
      return "no adapter of the maker found";
    case RunEnd::kNoAdapterAvailable:
      return "no adapter can be updated";
    case RunEnd::kAdapterNotFound:
      return "silent mode: no adapter has the name given with -a";
    case RunEnd::kOperatorQuit:
      return facts.rollback ? "the operator quit at the adapter prompt"
                            : "the operator quit at the adapter prompt without an update";
    case RunEnd::kInterrupted:
      return "interrupted by signal " + std::to_string(facts.interruptSignal);
    case RunEnd::kUnexpectedFailure:
      return "an unexpected failure ended the run";
    case RunEnd::kUpdatesDone:
    case RunEnd::kRollbackDone:
      break;
  }
  if (!facts.exitStatus) return "the run ended without recording how";
  const auto status = static_cast<uint32_t>(*facts.exitStatus);
  const bool rollback = facts.end == RunEnd::kRollbackDone;
  if (status == 0) {
    return rollback ? "the rollback succeeded" : "every update that ran succeeded";
  }
  if (rollback && status == kRollbackAborted) return "the rollback was not confirmed";
  // The result is the last failing adapter's: explain it as that adapter's outcome does.
  if (facts.outcomes != nullptr) {
    for (auto outcome = facts.outcomes->rbegin(); outcome != facts.outcomes->rend(); ++outcome) {
      if (outcome->result && *outcome->result == status) {
        return (rollback ? "the rollback failed: " : "an update failed: ") +
               resultMeaning(*outcome, rollback);
      }
    }
  }
  return (rollback ? "the rollback failed: " : "an update failed: ") +
         statusMeaning(rollback ? StatusKind::kRollback : StatusKind::kUpdate, status);
}

Json versionOrNull(bool known, const FirmwareVersion& version) {
  return known ? Json(version.toString()) : Json(nullptr);
}

Json adapterObject(const AdapterEntry& entry, const AdapterOutcome* outcome,
                   const RunFacts& facts) {
  Json adapter;
  adapter["index"] = entry.index;
  const AdapterInfo* info = entry.adapter.get();
  adapter["pci_address"] = info ? info->bdf : "";
  adapter["interface_name"] = entry.name();
  const uint16_t vendor = info ? info->vendorId : 0, device = info ? info->deviceId : 0;
  const uint16_t subsystemVendor = info ? info->subsystemVendorId : 0;
  const uint16_t subsystemDevice = info ? info->subsystemDeviceId : 0;
  adapter["hwid"] = "VEN_" + hex4(vendor) + "&DEV_" + hex4(device) + "&SUBSYS_" +
                    hex4(subsystemDevice) + hex4(subsystemVendor);
  adapter["vendor_id"] = hex4(vendor);
  adapter["device_id"] = hex4(device);
  adapter["subsystem_vendor_id"] = hex4(subsystemVendor);
  adapter["subsystem_device_id"] = hex4(subsystemDevice);
  adapter["mac_address"] = info ? info->macAddress : "";
  adapter["driver_version"] = info ? info->driverVersion : "";

  // An adapter the run ended before examining has no verdict yet.
  const bool settled = !entry.statusReason.empty();
  if (!settled) {
    adapter["status"] = nullptr;
  } else if (entry.status == AdapterStatus::Available) {
    adapter["status"] = "Available";
  } else if (entry.status == AdapterStatus::NotRequired) {
    adapter["status"] = "Not required";
  } else {
    adapter["status"] = "Not available";
  }
  adapter["status_reason"] = settled ? Json(entry.statusReason) : Json(nullptr);
  adapter["running_firmware"] = versionOrNull(entry.firmwareRead, entry.currentVersion);
  adapter["previous_firmware"] =
      versionOrNull(entry.firmwareRead && !entry.previousVersion.isZero(), entry.previousVersion);
  adapter["takes_image_type"] =
      entry.firmwareRead && entry.imageType != 0 ? Json(entry.imageType) : Json(nullptr);
  adapter["board_entry"] = entry.boardEntry.empty() ? Json(nullptr) : Json(entry.boardEntry);
  if (const VoImageFile* image = entry.selectedImage.get()) {
    adapter["image"] =
        Json{{"file", entry.imageName},
             {"version", image->version().toString()},
             {"type", image->type()},
             {"size", image->size()},
             {"sha256", image->digest() ? Json(sha256Hex(*image->digest())) : Json(nullptr)}};
  } else {
    adapter["image"] = entry.imageName.empty() ? Json(nullptr)
                                               : Json{{"file", entry.imageName},
                                                      {"version", nullptr},
                                                      {"type", nullptr},
                                                      {"size", nullptr},
                                                      {"sha256", nullptr}};
  }

  const bool attempted = outcome != nullptr && outcome->attempted;
  adapter["attempted"] = attempted;
  if (attempted && outcome->result) {
    adapter["result"] = *outcome->result;
    adapter["result_meaning"] = resultMeaning(*outcome, facts.rollback);
  } else {
    adapter["result"] = nullptr;
    adapter["result_meaning"] =
        attempted ? Json("not finished: the run ended before the step did") : Json(nullptr);
  }
  if (attempted && outcome->backupStatus) {
    Json backup = statusObject(*outcome->backupStatus, StatusKind::kBackup);
    const bool saved = !outcome->backupFile.empty();
    backup["file"] = saved ? Json(outcome->backupFile) : Json(nullptr);
    backup["size"] = saved ? Json(outcome->backupSize) : Json(nullptr);
    backup["sha256"] =
        saved && outcome->backupDigest ? Json(sha256Hex(*outcome->backupDigest)) : Json(nullptr);
    adapter["backup"] = std::move(backup);
  } else {
    adapter["backup"] = nullptr;
  }
  adapter["firmware_after"] = attempted && outcome->firmwareAfter
                                  ? Json(outcome->firmwareAfter->toString())
                                  : versionOrNull(entry.firmwareRead, entry.currentVersion);
  adapter["reload"] = attempted && outcome->reload
                          ? statusObject(*outcome->reload, StatusKind::kReload)
                          : Json(nullptr);
  adapter["driver_restart"] =
      attempted && outcome->driverRestart
          ? statusObject(*outcome->driverRestart, StatusKind::kDriverRestart)
          : Json(nullptr);
  adapter["power_cycle_needed"] = attempted && outcome->powerCycleNeeded;
  if (attempted) {
    const uint64_t ended = outcome->endedNs != 0 ? outcome->endedNs : facts.nowNs;
    adapter["duration_ms"] =
        ended >= outcome->startedNs ? (ended - outcome->startedNs) / 1000000 : 0;
  } else {
    adapter["duration_ms"] = nullptr;
  }
  return adapter;
}

}  // namespace

std::string isoUtcTime(std::time_t when) {
  std::tm parts{};
  if (gmtime_r(&when, &parts) == nullptr) return "1970-01-01T00:00:00Z";
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string formatRunReport(const RunFacts& facts) {
  Json report;
  report["schema_version"] = kRunReportSchemaVersion;
  report["tool"] = "hlvflashupdate";
  report["tool_version"] = toolVersion();
  report["host_name"] = facts.hostName;
  report["start_time"] = isoUtcTime(facts.started);
  report["end_time"] = isoUtcTime(facts.ended);
  report["log_directory"] = facts.logDirectory;
  report["mode"] = facts.rollback ? "rollback" : "update";
  report["options"] =
      Json{{"silent", facts.silent},
           {"rollback", facts.rollback},
           {"adapter_name", facts.adapterName.empty() ? Json(nullptr) : Json(facts.adapterName)}};
  report["exit_status"] = facts.exitStatus ? Json(*facts.exitStatus) : Json(nullptr);
  report["exit_meaning"] = exitMeaning(facts);
  report["interrupted"] = facts.end == RunEnd::kInterrupted;
  Json adapters = Json::array();
  if (facts.entries != nullptr) {
    for (std::size_t i = 0; i < facts.entries->size(); ++i) {
      const AdapterOutcome* outcome =
          facts.outcomes != nullptr && i < facts.outcomes->size() ? &(*facts.outcomes)[i] : nullptr;
      adapters.push_back(adapterObject((*facts.entries)[i], outcome, facts));
    }
  }
  report["adapters"] = std::move(adapters);
  return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

int writeRunReport(const trace::LogDirectory& directory, const std::string& text) {
  const platform::Directory& run = directory.run();
  const std::string path = directory.path() + kRunReportFileName;
  int error = 0;
  platform::NewFile file = run.createFile(kIncompleteName, error);
  if (!file.isOpen()) {
    trace::emit(tp::kNotWritten, path, error);
    return error;
  }
  bool written = file.writeAll(text.data(), text.size()) && file.sync() && file.close() &&
                 run.renameFileNoReplace(kIncompleteName, kRunReportFileName);
  if (written) {
    // The name is the report's only once the directories that lead to it are on the disk too.
    written = directory.syncEntries();
    if (!written) {
      error = errno;
      trace::emit(tp::kNotWritten, path, error);
      return error;
    }
    trace::emit(tp::kWritten, path, static_cast<uint64_t>(text.size()));
    return 0;
  }
  error = errno != 0 ? errno : EIO;
  trace::emit(tp::kNotWritten, path, error);
  file = {};
  // Whatever was left under the temporary name is no report; a report that took its name and
  // whose directory flush failed stays, since what it says is whole.
  if (!run.removeFile(kIncompleteName)) {
    trace::emit(tp::kIncompleteNotRemoved, directory.path() + kIncompleteName, errno);
  } else {
    (void)run.sync();
  }
  return error;
}

}  // namespace hlv
