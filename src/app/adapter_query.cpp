#include "app/adapter_query.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "app/image_selection.h"
#include "app/run_report.h"
#include "bundle/bdp_lookup.h"
#include "bundle/image_store.h"
#include "bundle/update_database.h"
#include "device/pci_discovery.h"
#include "platform/directory.h"
#include "update/direct_flash_update.h"

namespace hlv {
namespace {

inline constexpr uint64_t kMaximumReportSize = 1 << 20;

// Standard output carries hlvquery's own output (a table, JSON): while it lives, what the
// adapter list's steps print for the tool's console goes to standard error.
class ConsoleToStandardError {
 public:
  ConsoleToStandardError() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  ~ConsoleToStandardError() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  ConsoleToStandardError(const ConsoleToStandardError&) = delete;
  ConsoleToStandardError& operator=(const ConsoleToStandardError&) = delete;

 private:
  int saved_ = -1;
};

std::optional<std::string> optionalText(const nlohmann::json& value) {
  if (!value.is_string()) return std::nullopt;
  return value.get<std::string>();
}

// The run's summary from its report; none when the text is not a report.
std::optional<RecordedRun> summarize(const std::string& directory, const std::string& text) {
  const nlohmann::json report = nlohmann::json::parse(text, nullptr, false);
  if (report.is_discarded() || !report.is_object() || !report.contains("adapters") ||
      !report["adapters"].is_array()) {
    return std::nullopt;
  }
  RecordedRun run;
  run.directory = directory;
  run.startTime = optionalText(report.value("start_time", nlohmann::json())).value_or("");
  run.endTime = optionalText(report.value("end_time", nlohmann::json())).value_or("");
  run.mode = optionalText(report.value("mode", nlohmann::json())).value_or("");
  const nlohmann::json status = report.value("exit_status", nlohmann::json());
  if (status.is_number_integer()) run.exitStatus = status.get<int>();
  run.exitMeaning = optionalText(report.value("exit_meaning", nlohmann::json())).value_or("");
  const nlohmann::json interrupted = report.value("interrupted", nlohmann::json());
  run.interrupted = interrupted.is_boolean() && interrupted.get<bool>();
  for (const nlohmann::json& adapter : report["adapters"]) {
    if (!adapter.is_object()) continue;
    RecordedRun::Adapter a;
    a.pciAddress = optionalText(adapter.value("pci_address", nlohmann::json())).value_or("");
    a.name = optionalText(adapter.value("interface_name", nlohmann::json())).value_or("");
    a.before = optionalText(adapter.value("running_firmware", nlohmann::json()));
    a.after = optionalText(adapter.value("firmware_after", nlohmann::json()));
    const nlohmann::json attempted = adapter.value("attempted", nlohmann::json());
    a.attempted = attempted.is_boolean() && attempted.get<bool>();
    const nlohmann::json result = adapter.value("result", nlohmann::json());
    if (result.is_number_unsigned()) a.result = result.get<uint32_t>();
    run.adapters.push_back(std::move(a));
  }
  return run;
}

}  // namespace

bool queryMachine(const std::string& bundle, const UpdaterOpener& openUpdater, MachineQuery& query,
                  std::string& problem) {
  query = {};
  const ConsoleToStandardError console;
  std::unique_ptr<UpdateDatabase> database;
  if (!bundle.empty()) {
    query.bundleGiven = true;
    query.bundle = bundle.back() == '/' ? bundle : bundle + "/";
    database = loadUpdateDatabase(query.bundle + "updatedata.xml");
    if (!database) {
      problem = query.bundle + "updatedata.xml cannot be read";
      return false;
    }
  }

  AdapterList discovered = discoverAdapters();
  for (std::size_t i = 0; i < discovered.size(); ++i) {
    QueriedAdapter adapter;
    discovered[i]->index = static_cast<uint32_t>(i);
    adapter.entry = AdapterEntry(static_cast<uint32_t>(i), std::move(discovered[i]));
    query.adapters.push_back(std::move(adapter));
  }

  std::optional<ImageStore> images;
  if (database) images.emplace(query.bundle, std::make_unique<DirectFlashUpdate>());
  SystemInfoCache systemInfo;
  for (QueriedAdapter& adapter : query.adapters) {
    AdapterEntry& entry = adapter.entry;
    adapter.examined = collectAdapterInfo(entry, openUpdater);
    if (VoFlUpdateIface* updater = entry.readyUpdater(); updater != nullptr) {
      FlashState state;
      adapter.flashStatus = updater->readFlashState(state);
      adapter.flash = state;
    }
    if (!database) continue;
    if (!adapter.examined) {
      entry.status = AdapterStatus::NotAvailable;
    } else if (!selectImage(entry, *database, *images, systemInfo)) {
      entry.status = AdapterStatus::NotAvailable;
    } else {
      evaluateAdapter(entry);
    }
  }
  return true;
}

std::vector<RecordedRun> readRunHistory(const std::string& toolDirectory) {
  std::vector<RecordedRun> runs;
  platform::FileProblem problem;
  const platform::Directory tool = platform::Directory::openAsNamed(toolDirectory, problem);
  if (!tool.isOpen()) return runs;
  const platform::Directory logs = tool.openExisting("logs", problem);
  std::vector<std::string> names;
  if (!logs.isOpen() || !logs.list(names)) return runs;
  for (const std::string& name : names) {
    const platform::Directory run = logs.openExisting(name, problem);
    if (!run.isOpen()) continue;
    std::vector<uint8_t> bytes;
    if (!run.readOwnFile(kRunReportFileName, kMaximumReportSize, bytes, problem)) continue;
    if (std::optional<RecordedRun> summary =
            summarize(name, std::string(bytes.begin(), bytes.end()))) {
      runs.push_back(std::move(*summary));
    }
  }
  std::sort(runs.begin(), runs.end(), [](const RecordedRun& a, const RecordedRun& b) {
    return a.startTime != b.startTime ? a.startTime < b.startTime : a.directory < b.directory;
  });
  return runs;
}

}  // namespace hlv
