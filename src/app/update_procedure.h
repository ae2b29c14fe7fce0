// The update of one adapter: backup, firmware write, reload, driver restart, console report.
#pragma once

#include <cstdint>

#include "app/adapter_entry.h"
#include "app/adapter_outcome.h"
#include "app/exit_status.h"
#include "trace/log_directory.h"

namespace hlv {

// Prints the adapter's block. 0 when the adapter was updated; otherwise kUpdateNotPossible or the
// failing code of the backup (nothing written then) or of the update. A failed reload or driver
// restart only adds the request for a power cycle. `outcome`, when given, records each step as
// it ends.
uint32_t updateAdapter(const AdapterEntry& entry, const trace::LogDirectory& logDirectory,
                       AdapterOutcome* outcome = nullptr);

}  // namespace hlv
