// The step both per-adapter procedures end with: the adapter's kernel driver is restarted so
// that it takes the adapter up again, and the console line says how that went.
#pragma once

#include <cstdint>

#include "app/adapter_entry.h"

namespace hlv {

// Prints the line (no newline), restarts the driver and ends the line with "[OK] " or
// "[FAILED] ". False when the restart failed; the adapter then needs a power cycle. `status`, when
// given, receives the restart's status.
bool restartDriverStep(const AdapterEntry& entry, const char* line, uint32_t* status = nullptr);

}  // namespace hlv
