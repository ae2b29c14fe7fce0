// Giving a discovered adapter its update interface.
#include "device/pci_discovery.h"
#include "update/direct_flash_update.h"
#include "update/open_updater_trace.h"

namespace hlv {
namespace tp = trace_points::open_updater;

bool openUpdater(AdapterInfo& adapter) {
  adapter.updater = std::make_unique<DirectFlashUpdate>(adapter.sysfsPath);
  const bool ready = adapter.updater->isReady();
  if (!ready) trace::emit(tp::kNotReady, adapter.index);
  return ready;
}

}  // namespace hlv
