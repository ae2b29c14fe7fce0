// The update of one adapter: backup, firmware write, reload, driver restart, console report.
#pragma once

#include <cstdint>
#include <string>

#include "app/adapter_entry.h"

namespace hlv {

// The adapter has no image, or no usable update interface.
inline constexpr uint32_t kUpdateNotPossible = 3;

// Prints the adapter's block. 0 when the adapter was updated; otherwise kUpdateNotPossible or the
// failing code of the backup (nothing written then) or of the update. A failed reload or driver
// restart only adds the request for a power cycle.
uint32_t updateAdapter(const AdapterEntry& entry, const std::string& logDirectory);

}  // namespace hlv
