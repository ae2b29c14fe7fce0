// The steps that examine each adapter of the session's list.
#pragma once

#include <functional>

#include "app/adapter_entry.h"

namespace hlv {

// Gives an adapter its update interface and answers whether it is ready; the program's is
// openUpdater.
using UpdaterOpener = std::function<bool(AdapterInfo& adapter)>;

// Opens the adapter's update interface and reads its firmware versions and the image type it
// takes into the entry. False (after a console line for a failed readout) when the adapter
// cannot be examined.
bool collectAdapterInfo(AdapterEntry& entry, const UpdaterOpener& openUpdater);

// Sets the entry's status: Available when its selected image suits the adapter, passes the
// adapter's checks and is newer than the running firmware; NotRequired when it is not newer;
// NotAvailable otherwise.
void evaluateAdapter(AdapterEntry& entry);

}  // namespace hlv
