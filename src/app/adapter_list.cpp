// Building the session's adapter list, and finding an adapter by the name given with -a.
#include "app/adapter_list.h"

#include <cstdio>

#include "app/adapter_list_trace.h"
#include "app/exit_status.h"
#include "app/image_selection.h"
#include "app/mapping_refusal_notice.h"
#include "app/status_meanings.h"
#include "app/update_session.h"
#include "bundle/bdp_lookup.h"
#include "bundle/image_store.h"
#include "bundle/update_database.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"

namespace hlv {
namespace tp = trace_points::adapter_list;
namespace {

inline constexpr const char* kDatabaseFileName = "updatedata.xml";

void markNotAvailable(AdapterEntry& entry) {
  entry.status = AdapterStatus::NotAvailable;
}

void markNotAvailable(AdapterEntry& entry, std::string reason) {
  entry.status = AdapterStatus::NotAvailable;
  entry.statusReason = std::move(reason);
}

// "status N: what it means", as the engine's statuses are explained.
std::string statusWords(uint32_t status) {
  return "status " + std::to_string(status) + ": " + statusMeaning(StatusKind::kEngine, status);
}

// "image 'NAME'", the image file as the database names it.
std::string imageWords(const AdapterEntry& entry) {
  return "image '" + entry.imageName + "'";
}

}  // namespace

bool collectAdapterInfo(AdapterEntry& entry, const UpdaterOpener& openUpdater) {
  AdapterInfo* adapter = entry.adapter.get();
  if (adapter == nullptr || !openUpdater(*adapter) || !adapter->updater) {
    trace::emit(tp::kUpdaterNotOpened, entry.index);
    entry.statusReason = "its registers could not be mapped or its flash interface opened";
    return false;
  }
  VoFlUpdateIface& updater = *adapter->updater;

  const uint32_t versions =
      updater.getFirmwareVersions(entry.currentVersion, &entry.previousVersion);
  if (versions != 0) {
    std::printf("Couldn't determine firmware version for device: '%s' \n",
                adapter->interfaceName.c_str());
    trace::emit(tp::kVersionsUnreadable, entry.index, versions);
    entry.statusReason =
        "its firmware versions cannot be read from the flash (" + statusWords(versions) + ")";
    return false;
  }
  entry.firmwareRead = true;
  const uint32_t type = updater.getAdapterType(entry.imageType);
  if (type != 0) {
    std::printf("Couldn't collect information about device: '%s' \n",
                adapter->interfaceName.c_str());
    trace::emit(tp::kTypeUnreadable, entry.index, type);
    entry.statusReason = "its image type cannot be read (" + statusWords(type) + ")";
    return false;
  }
  trace::emit(tp::kAdapterExamined, entry.index, entry.currentVersion.major,
              entry.currentVersion.minor, entry.currentVersion.build, entry.previousVersion.major,
              entry.previousVersion.minor, entry.previousVersion.build, entry.imageType);
  return true;
}

void evaluateAdapter(AdapterEntry& entry) {
  entry.status = AdapterStatus::Available;
  const VoImageFile* image = entry.selectedImage.get();
  if (image == nullptr) {
    markNotAvailable(entry, "no image was chosen for it");
    trace::emit(tp::kNoImageSelected, entry.index);
    return;
  }
  if (image->type() != entry.imageType) {
    markNotAvailable(entry, "it takes images of type " + std::to_string(entry.imageType) + ", " +
                                imageWords(entry) + " is of type " + std::to_string(image->type()));
    trace::emit(tp::kImageTypeMismatch, entry.index, entry.imageType, image->type());
    return;
  }
  VoFlUpdateIface* updater = entry.readyUpdater();
  if (updater == nullptr) {
    markNotAvailable(entry, "its update interface is not ready");
    trace::emit(tp::kUpdaterNotReady, entry.index);
    return;
  }
  if (!updater->isEligible()) {
    markNotAvailable(entry, "a board the tool does not update");
    trace::emit(tp::kNotEligible, entry.index);
    return;
  }
  entry.keyCheck = updater->checkImageKey(*image);
  if (const uint32_t key = *entry.keyCheck; key != 0) {
    markNotAvailable(
        entry, imageWords(entry) + " is signed with another key than the one fused into the chip");
    trace::emit(tp::kImageKeyRejected, entry.index, key);
    return;
  }
  const FirmwareVersion& offered = image->version();
  if (offered <= entry.currentVersion) {
    entry.status = AdapterStatus::NotRequired;
    entry.statusReason = imageWords(entry) + " holds " + offered.toString() +
                         ", not newer than the running " + entry.currentVersion.toString();
    trace::emit(tp::kNotRequired, entry.index, offered.major, offered.minor, offered.build,
                entry.currentVersion.major, entry.currentVersion.minor, entry.currentVersion.build);
    return;
  }
  entry.statusReason = imageWords(entry) + " holds " + offered.toString() +
                       ", newer than the running " + entry.currentVersion.toString();
  trace::emit(tp::kAvailable, entry.index);
}

uint32_t UpdateSession::loadAdapters() {
  // 1. The update database, from the tool directory; it lives until the list is built.
  const std::string databasePath = toolDirectory_ + kDatabaseFileName;
  const std::unique_ptr<UpdateDatabase> database = loadUpdateDatabase(databasePath);
  if (!database) {
    std::puts("[!] Couldn't load data from XML file. Check update files. ");
    trace::emit(tp::kDatabaseNotLoaded, databasePath);
    return kSessionDatabaseNotLoaded;
  }

  // 2. Discovery: one entry per adapter, in discovery order, each owning its AdapterInfo; the
  //    new list replaces any earlier one.
  adapters_.clear();
  AdapterList discovered = discoverAdapters();
  adapters_.reserve(discovered.size());
  for (std::size_t i = 0; i < discovered.size(); ++i) {
    const auto index = static_cast<uint32_t>(i);
    discovered[i]->index = index;
    adapters_.emplace_back(index, std::move(discovered[i]));
  }

  // 3. No adapter of the maker at all.
  if (adapters_.empty()) {
    std::puts("No Tessarin network adapter found ");
    trace::emit(tp::kNoAdapterFound);
    return kSessionNoAdapterFound;
  }

  // 4. and 5. Each entry is examined on its own; one that cannot be examined is only marked.
  //    Images are loaded and checked once for the whole list; the entries keep theirs when the
  //    store goes.
  ImageStore images(toolDirectory_, steps_.makeImageChecker());
  SystemInfoCache systemInfo;
  for (AdapterEntry& entry : adapters_) {
    if (!collectAdapterInfo(entry, steps_.openUpdater)) {
      markNotAvailable(entry);
      trace::emit(tp::kEntryNotExamined, entry.index);
      continue;
    }
    if (!selectImage(entry, *database, images, systemInfo)) {
      markNotAvailable(entry);
      trace::emit(tp::kNoImageFor, entry.index);
      continue;
    }
    evaluateAdapter(entry);
  }
  // An adapter whose registers the kernel would not map is only "Not available" in the table;
  // why, and what the operator can do, goes to standard error.
  explainMappingRefusals(adapters_);
  trace::emit(tp::kAdapterListBuilt, static_cast<uint64_t>(adapters_.size()));
  return kSessionSucceeded;
}

std::size_t UpdateSession::findAdapterByName() const {
  const std::string& wanted = options_.adapterName;
  if (wanted.empty()) {
    trace::emit(tp::kNoAdapterName);
    return adapters_.size();
  }
  for (std::size_t i = 0; i < adapters_.size(); ++i) {
    const AdapterEntry& entry = adapters_[i];
    if (entry.adapter && entry.adapter->interfaceName == wanted) {
      trace::emit(tp::kAdapterNameFound, wanted, static_cast<uint64_t>(i));
      return i;
    }
  }
  trace::emit(tp::kAdapterNameNotFound, wanted);
  return adapters_.size();
}

}  // namespace hlv
