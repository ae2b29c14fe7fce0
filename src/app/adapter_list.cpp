// Building the session's adapter list, and finding an adapter by the name given with -a.
#include <cstdio>

#include "app/adapter_list_trace.h"
#include "app/exit_status.h"
#include "app/update_session.h"
#include "bundle/update_database.h"
#include "device/pci_discovery.h"

namespace hlv {
namespace tp = trace_points::adapter_list;
namespace {

inline constexpr const char* kDatabaseFileName = "updatedata.xml";

// Opens the adapter's update interface and reads its firmware versions and image type into the
// entry. The adapter update interface is not part of the program yet, so no adapter can be
// examined.
bool collectAdapterInfo(AdapterEntry& entry) {
  (void)entry;
  return false;
}

}  // namespace

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

  // 4. to 6. Each entry is examined on its own; one that cannot be examined is only marked.
  for (AdapterEntry& entry : adapters_) {
    if (!collectAdapterInfo(entry)) {
      entry.status = AdapterStatus::NotAvailable;
      trace::emit(tp::kEntryNotExamined, entry.index);
      continue;
    }
  }
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
