#include "tools/hlvsim/rehearsal.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <map>
#include <string_view>

#include "app/adapter_list_trace.h"
#include "app/driver_restart_step_trace.h"
#include "app/exit_status.h"
#include "app/image_selection_trace.h"
#include "app/update_procedure_trace.h"
#include "bundle/image_store_trace.h"
#include "device/pci_discovery_trace.h"
#include "engine/firmware_update_trace.h"
#include "shared/status_table.h"
#include "tools/common/json_output.h"
#include "tools/common/text_escape.h"

namespace hlv::sim::tool {
namespace {

namespace adapter_list = trace_points::adapter_list;
namespace image_selection = trace_points::image_selection;
namespace image_store = trace_points::image_store;
namespace discovery = trace_points::pci_discovery;
namespace procedure = trace_points::update_procedure;
namespace driver_restart = trace_points::driver_restart_step;
namespace engine_update = trace_points::firmware_update;

// The rehearsal reads the arguments of the records it takes by their position: it takes only
// points whose tables promise to keep those places (declared byPosition).
template <const auto& point>
bool is(const trace::DecodedRecord& record) {
  static_assert(point.readByPosition,
                "the rehearsal reads this point's arguments by position: declare its number "
                "byPosition(n) in its table");
  return record.component == point.component && record.file == point.file &&
         record.point == point.point;
}

uint32_t number(const trace::DecodedRecord& record, std::size_t argument) {
  return argument < record.args.size() ? static_cast<uint32_t>(record.args[argument].raw) : 0;
}

std::string text(const trace::DecodedRecord& record, std::size_t argument) {
  return argument < record.args.size() ? record.args[argument].text : std::string();
}

FirmwareVersion versionAt(const trace::DecodedRecord& record, std::size_t first) {
  return {number(record, first), number(record, first + 1), number(record, first + 2)};
}

std::string format(const char* pattern, auto... values) {
  char line[256];
  std::snprintf(line, sizeof line, pattern, values...);
  return line;
}

// The words for a status, from the status table: "status 26: an image component does not match
// its CRC".
std::string statusWords(uint32_t status, std::initializer_list<StatusScope> scopes) {
  return format("status %" PRIu32 ": ", status) + statusMeaning(status, scopes);
}

// An engine status: a failed update, a version readout.
std::string statusWords(uint32_t status) {
  return statusWords(status, {StatusScope::kEngine});
}

std::string versionText(const std::optional<FirmwareVersion>& version) {
  return version ? version->toString() : "none";
}

// Why an image file of the bundle could not be had, as the image store recorded it.
struct ImageTrouble {
  bool unreadable = false;
  std::optional<uint32_t> refused;
  std::string nameRefused;  // why the name itself was refused, if it was
};

class RunReader {
 public:
  explicit RunReader(Rehearsal& rehearsal) : rehearsal_(rehearsal) {}

  void read(const trace::DecodedRecord& record) {
    if (is<discovery::kAdapterFound>(record)) {
      AdapterRehearsal adapter;
      adapter.index = static_cast<uint32_t>(rehearsal_.adapters.size());
      adapter.bdf = text(record, 0);
      adapter.name = text(record, 1);
      adapter.mac = text(record, 2);
      rehearsal_.adapters.push_back(adapter);
    } else if (is<discovery::kFunctionFound>(record)) {
      // The identifiers of every function, by path; an adapter's come before its own record.
      functionIds_[text(record, 0)] = {number(record, 1), number(record, 2), number(record, 3),
                                       number(record, 4)};
    } else if (is<image_store::kCacheMiss>(record) || is<image_store::kCacheHit>(record)) {
      // The store's other records of this fetch name the file by its path: they are about
      // this name.
      fetching_ = text(record, 0);
      if (AdapterRehearsal* adapter = entry(selecting_)) adapter->image = fetching_;
    } else if (is<image_store::kImageLoaded>(record)) {
      images_[fetching_] = {versionAt(record, 1), number(record, 4)};
    } else if (is<image_store::kImageNotRead>(record)) {
      troubles_[fetching_].unreadable = true;
    } else if (is<image_store::kImageRejected>(record)) {
      troubles_[fetching_].refused = number(record, 1);
    } else if (is<image_store::kImageNameRefused>(record)) {
      troubles_[fetching_].nameRefused = text(record, 1);
    } else if (is<image_selection::kBoardEntryChosen>(record)) {
      selecting_ = number(record, 0);
      if (AdapterRehearsal* adapter = entry(selecting_)) adapter->board = text(record, 1);
    } else {
      readVerdict(record);
      readUpdate(record);
    }
  }

  void finish() {
    for (AdapterRehearsal& adapter : rehearsal_.adapters) {
      for (const auto& [path, ids] : functionIds_) {
        if (path.size() >= adapter.bdf.size() &&
            path.compare(path.size() - adapter.bdf.size(), adapter.bdf.size(), adapter.bdf) == 0) {
          adapter.vendorId = static_cast<uint16_t>(ids[0]);
          adapter.deviceId = static_cast<uint16_t>(ids[1]);
          adapter.subsystemDeviceId = static_cast<uint16_t>(ids[2]);
          adapter.subsystemVendorId = static_cast<uint16_t>(ids[3]);
        }
      }
      if (const auto image = images_.find(adapter.image); image != images_.end()) {
        adapter.imageVersion = image->second.first;
        adapter.imageType = image->second.second;
      }
    }
  }

 private:
  AdapterRehearsal* entry(std::optional<uint32_t> index) {
    if (!index || *index >= rehearsal_.adapters.size()) return nullptr;
    return &rehearsal_.adapters[*index];
  }

  void readVerdict(const trace::DecodedRecord& record) {
    AdapterRehearsal* adapter = entry(number(record, 0));
    if (adapter == nullptr) return;
    const std::string image = "image '" + adapter->image + "'";
    if (is<adapter_list::kUpdaterNotOpened>(record)) {
      adapter->reason = "its registers could not be mapped or its flash interface opened";
    } else if (is<adapter_list::kVersionsUnreadable>(record)) {
      adapter->reason = "its firmware versions cannot be read from the flash (" +
                        statusWords(number(record, 1)) + ")";
    } else if (is<adapter_list::kTypeUnreadable>(record)) {
      adapter->reason = "its image type cannot be read (" + statusWords(number(record, 1)) + ")";
    } else if (is<adapter_list::kAdapterExamined>(record)) {
      adapter->current = versionAt(record, 1);
      const FirmwareVersion previous = versionAt(record, 4);
      if (!previous.isZero()) adapter->previous = previous;
      adapter->takesImageType = number(record, 7);
    } else if (is<image_selection::kNoBoardEntry>(record)) {
      adapter->reason = format(
          "updatedata.xml has no board entry for VEN_%04" PRIX32 "&DEV_%04" PRIX32
          "&SUBSYS_%04" PRIX32 "%04" PRIX32,
          number(record, 1), number(record, 2), number(record, 3), number(record, 4));
    } else if (is<image_selection::kNoImage>(record)) {
      const ImageTrouble trouble = troubles_[text(record, 1)];
      adapter->image = text(record, 1);
      if (!trouble.nameRefused.empty()) {
        adapter->reason = "image name '" + adapter->image + "' is refused: " + trouble.nameRefused;
      } else if (trouble.refused) {
        adapter->reason =
            "image '" + adapter->image + "' is refused by the image check (" +
            statusWords(*trouble.refused, {StatusScope::kUpdateInterface, StatusScope::kEngine}) +
            ")";
      } else if (trouble.unreadable) {
        adapter->reason = "image file '" + adapter->image + "' cannot be read";
      } else {
        adapter->reason = "image '" + adapter->image + "' is not available";
      }
    } else if (is<adapter_list::kNoImageSelected>(record)) {
      adapter->reason = "no image was chosen for it";
    } else if (is<adapter_list::kImageTypeMismatch>(record)) {
      adapter->reason = format("it takes images of type %" PRIu32 ", ", number(record, 1)) +
                        image + format(" is of type %" PRIu32, number(record, 2));
    } else if (is<adapter_list::kUpdaterNotReady>(record)) {
      adapter->reason = "its update interface is not ready";
    } else if (is<adapter_list::kNotEligible>(record)) {
      adapter->reason = "a board the tool does not update";
    } else if (is<adapter_list::kImageKeyRejected>(record)) {
      adapter->reason = image + " is signed with another key than the one fused into the chip";
    } else if (is<adapter_list::kNotRequired>(record)) {
      adapter->status = "Not required";
      adapter->reason = image + " holds " + versionAt(record, 1).toString() +
                        ", not newer than the running " + versionAt(record, 4).toString();
    } else if (is<adapter_list::kAvailable>(record)) {
      adapter->status = "Available";
      adapter->reason = image + " holds " + versionText(imageVersionOf(adapter->image)) +
                        ", newer than the running " + versionText(adapter->current);
    }
  }

  std::optional<FirmwareVersion> imageVersionOf(const std::string& name) const {
    const auto image = images_.find(name);
    if (image == images_.end()) return std::nullopt;
    return image->second.first;
  }

  void readUpdate(const trace::DecodedRecord& record) {
    if (is<procedure::kUpdateStarted>(record)) {
      updating_ = number(record, 0);
      if (AdapterRehearsal* adapter = entry(updating_)) adapter->attempted = true;
      return;
    }
    AdapterRehearsal* adapter = entry(updating_);
    if (adapter == nullptr) return;
    if (is<procedure::kNoImage>(record) || is<procedure::kNoUpdateInterface>(record)) {
      adapter->notPossible = true;
    } else if (is<procedure::kBackupFailed>(record)) {
      adapter->backupFailed = true;
      adapter->result = number(record, 0);
    } else if (is<engine_update::kTransforming>(record)) {
      adapter->transformed = true;
    } else if (is<procedure::kReloadResult>(record)) {
      adapter->reload = number(record, 0);
    } else if (is<driver_restart::kRestartFailed>(record)) {
      adapter->driverRestartFailed = true;
    } else if (is<procedure::kUpdateFinished>(record)) {
      adapter->result = number(record, 1);
      adapter->powerCycle = number(record, 2) != 0;
      updating_.reset();
    }
  }

  Rehearsal& rehearsal_;
  std::optional<uint32_t> selecting_;  // the entry whose image is being fetched
  std::optional<uint32_t> updating_;   // the entry whose update is under way
  std::string fetching_;               // the image file the store is fetching
  std::map<std::string, std::array<uint32_t, 4>> functionIds_;
  std::map<std::string, std::pair<FirmwareVersion, uint32_t>> images_;
  std::map<std::string, ImageTrouble> troubles_;
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    result.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return result;
}

// The table's rows (between its second and third rule, one per entry in order) and the
// update blocks (in the order the updates ran).
void readConsole(const std::string& console, Rehearsal& rehearsal) {
  const std::vector<std::string> all = lines(console);
  int rules = 0;
  std::size_t row = 0;
  std::vector<std::vector<std::string>> blocks;
  bool inBlock = false;
  for (const std::string& line : all) {
    if (line.rfind("_____", 0) == 0) {
      ++rules;
      continue;
    }
    if (rules == 2 && row < rehearsal.adapters.size()) rehearsal.adapters[row++].tableRow = line;
    if (line == "=== ") {
      blocks.emplace_back();
      inBlock = true;
    }
    if (inBlock) blocks.back().push_back(line);
    if (line == "===") inBlock = false;
  }
  std::size_t next = 0;
  for (AdapterRehearsal& adapter : rehearsal.adapters) {
    // Entries are updated in their order.
    if (adapter.attempted && next < blocks.size()) adapter.console = blocks[next++];
  }
}

hlv::tool::Json jsonOptionalVersion(const std::optional<FirmwareVersion>& version) {
  return version ? hlv::tool::Json(version->toString()) : hlv::tool::Json(nullptr);
}

template <class T>
hlv::tool::Json jsonOptional(const std::optional<T>& value) {
  return value ? hlv::tool::Json(*value) : hlv::tool::Json(nullptr);
}

}  // namespace

std::string AdapterRehearsal::outcome() const {
  if (!attempted) return status == "Available" ? "not reached" : "not updated";
  if (!result) return "the update did not finish";
  if (backupFailed) {
    return "the backup failed (" + statusMeaning(*result, {StatusScope::kBackup}) +
           "): the flash was not touched";
  }
  if (*result == 0) {
    std::string words = "updated to " + versionText(imageVersion);
    if (reload) {
      const std::string why =
          statusMeaning(*reload, {StatusScope::kFirmwareReload, StatusScope::kEngine});
      words += *reload == 0 ? ", firmware reloaded" : ", firmware reload failed (" + why + ")";
    }
    return words;
  }
  if (notPossible) {
    return "the update was not possible (" + statusWords(*result, {StatusScope::kUpdate}) + ")";
  }
  return "the update failed (" + statusWords(*result) + "); the firmware it ran stays intact";
}

bool Rehearsal::succeeds() const {
  const auto ends = [this](uint32_t status) { return toolStatus == static_cast<int>(status); };
  if (!ends(kSessionSucceeded) && !ends(kSessionNoAdapterAvailable) &&
      !ends(kSessionNoAdapterFound)) {
    return false;
  }
  for (const AdapterRehearsal& adapter : adapters) {
    if (adapter.attempted && adapter.result != 0u) return false;
    const bool mightBeUpdated = adapterName.empty() || adapter.name == adapterName;
    if (!adapter.hasFlash && mightBeUpdated) return false;
  }
  return true;
}

std::string Rehearsal::toolOutcome() const {
  switch (toolStatus) {
    case 0:
      return "every update would succeed";
    case 2:
      return "no adapter would be updated";
    case kExitInterrupted:
      return "interrupted";
    case -1:
      return "the tool ended by a signal";
  }
  // Before any update the status is the session's or the program's own; after one, the last
  // failed update's (3 is both: -a naming no adapter, and an update that was not possible).
  const bool attempted = std::any_of(adapters.begin(), adapters.end(),
                                     [](const AdapterRehearsal& a) { return a.attempted; });
  if (toolStatus > 0 && !attempted) {
    const auto status = static_cast<uint32_t>(toolStatus);
    if (findStatus(status, {StatusScope::kExit, StatusScope::kSession}) != nullptr)
      return statusMeaning(status, {StatusScope::kExit, StatusScope::kSession});
  }
  return "an update would fail (the last with status " + std::to_string(toolStatus) + ")";
}

void readRun(const std::vector<trace::DecodedRecord>& records, const std::string& console,
             Rehearsal& rehearsal) {
  RunReader reader(rehearsal);
  for (const trace::DecodedRecord& record : records)
    reader.read(record);
  reader.finish();
  readConsole(console, rehearsal);
}

std::string formatRehearsalText(const Rehearsal& rehearsal) {
  std::string out;
  for (const AdapterRehearsal& a : rehearsal.adapters) {
    out +=
        "adapter " + a.bdf + " " + a.name +
        format(" (VEN_%04X&DEV_%04X&SUBSYS_%04X%04X)\n", unsigned{a.vendorId}, unsigned{a.deviceId},
               unsigned{a.subsystemDeviceId}, unsigned{a.subsystemVendorId});
    out += "  status: " + a.status + (a.reason.empty() ? "" : ": " + a.reason) + "\n";
    if (a.current) {
      out += "  firmware: " + a.current->toString() + ", previous " + versionText(a.previous) +
             format(", takes image type %" PRIu32 "\n", a.takesImageType.value_or(0));
    }
    if (!a.image.empty()) {
      out += "  image: " + a.image + (a.board.empty() ? "" : " (board entry " + a.board + ")");
      if (a.imageVersion) {
        out += ", version " + a.imageVersion->toString() +
               format(", type %" PRIu32, a.imageType.value_or(0));
      }
      out += "\n";
    }
    out += "  update: " + a.outcome() + "\n";
    if (a.attempted) {
      out += std::string("  transformed from the type-1 layout: ") +
             (a.transformed ? "yes" : "no") + "\n";
      out += std::string("  afterwards: ") +
             (a.powerCycle ? "a power cycle" : "none (the new firmware runs)") +
             (a.driverRestartFailed ? "; the driver restart failed" : "") + "\n";
    }
    if (!a.hasFlash) {
      out += "  flash: none in the lab (hlvsim lab flash LAB " + a.bdf + " FILE)\n";
    } else {
      out += "  flash before: " + a.flashBefore + "\n";
      out += "  flash after:  " + (a.flashChanged ? a.flashAfter : "unchanged") + "\n";
    }
    for (const std::string& line : a.console)
      out += "  | " + line + "\n";
  }
  out += "tool: exit status " + std::to_string(rehearsal.toolStatus) + ", " +
         rehearsal.toolOutcome() + "\n";
  if (!rehearsal.traceComplete) out += "trace: " + rehearsal.traceProblem + "\n";
  for (const AdapterRehearsal& a : rehearsal.adapters) {
    if (!a.hasFlash) out += "unknown: what the tool would do to " + a.bdf + " (no flash)\n";
  }
  out += std::string("verdict: ") +
         (rehearsal.succeeds() ? "every adapter that would be updated would succeed"
                               : "NOT every adapter that would be updated would succeed") +
         "\n";
  return out;
}

std::string formatRehearsalJson(const Rehearsal& rehearsal) {
  hlv::tool::Json adapters = hlv::tool::Json::array();
  for (const AdapterRehearsal& a : rehearsal.adapters) {
    hlv::tool::Json adapter;
    adapter["bdf"] = a.bdf;
    adapter["name"] = a.name;
    adapter["mac"] = a.mac;
    adapter["hwid"] =
        format("VEN_%04X&DEV_%04X&SUBSYS_%04X%04X", unsigned{a.vendorId}, unsigned{a.deviceId},
               unsigned{a.subsystemDeviceId}, unsigned{a.subsystemVendorId});
    adapter["has_flash"] = a.hasFlash;
    adapter["status"] = a.status;
    adapter["offered"] = a.status == "Available";
    adapter["reason"] = a.reason;
    adapter["current_version"] = jsonOptionalVersion(a.current);
    adapter["previous_version"] = jsonOptionalVersion(a.previous);
    adapter["takes_image_type"] = jsonOptional(a.takesImageType);
    adapter["board"] = a.board;
    adapter["image"] = a.image;
    adapter["image_version"] = jsonOptionalVersion(a.imageVersion);
    adapter["image_type"] = jsonOptional(a.imageType);
    adapter["attempted"] = a.attempted;
    adapter["backup_failed"] = a.backupFailed;
    adapter["result"] = jsonOptional(a.result);
    adapter["outcome"] = a.outcome();
    adapter["transformed"] = a.transformed;
    adapter["reload"] = jsonOptional(a.reload);
    adapter["driver_restart_failed"] = a.driverRestartFailed;
    adapter["power_cycle"] = a.powerCycle;
    adapter["table_row"] = a.tableRow;
    adapter["console"] = a.console;
    adapter["flash_before"] = a.hasFlash ? a.flashBeforeJson : hlv::tool::Json(nullptr);
    adapter["flash_after"] = a.hasFlash ? a.flashAfterJson : hlv::tool::Json(nullptr);
    adapter["flash_changed"] = a.flashChanged;
    adapter["flash_after_sha256"] = a.flashAfterSha256;
    adapters.push_back(std::move(adapter));
  }
  hlv::tool::Json out;
  out["adapters"] = std::move(adapters);
  out["tool_status"] = rehearsal.toolStatus;
  out["tool_outcome"] = rehearsal.toolOutcome();
  out["trace_complete"] = rehearsal.traceComplete;
  out["errors"] = rehearsal.errors;
  out["succeeds"] = rehearsal.succeeds();
  return hlv::tool::dumpJson(out) + "\n";
}

}  // namespace hlv::sim::tool
