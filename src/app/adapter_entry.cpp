#include "app/adapter_entry.h"

#include "device/pci_discovery.h"

namespace hlv {

AdapterEntry::AdapterEntry() = default;

AdapterEntry::AdapterEntry(uint32_t entryIndex, std::unique_ptr<AdapterInfo> info)
    : index(entryIndex), adapter(std::move(info)) {}

AdapterEntry::~AdapterEntry() = default;
AdapterEntry::AdapterEntry(AdapterEntry&&) noexcept = default;
AdapterEntry& AdapterEntry::operator=(AdapterEntry&&) noexcept = default;

const std::string& AdapterEntry::name() const {
  static const std::string kNoName;
  return adapter ? adapter->interfaceName : kNoName;
}

VoFlUpdateIface* AdapterEntry::readyUpdater() const {
  if (!adapter || !adapter->updater || !adapter->updater->isReady()) return nullptr;
  return adapter->updater.get();
}

}  // namespace hlv
