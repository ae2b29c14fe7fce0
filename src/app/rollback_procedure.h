// The return of one adapter to the firmware it ran before its last update.
#pragma once

#include <cstdint>
#include <string>

#include "app/adapter_entry.h"

namespace hlv {

class UpdateSession;

// The adapter keeps no previous firmware.
inline constexpr uint32_t kRollbackNotPossible = 2;

// Table, choice of adapter, then rollbackAdapter. 41 when the operator quits.
uint32_t rollbackSelection(UpdateSession& session);

// Confirmation, backup, rollback, reload and driver restart for one adapter.
uint32_t rollbackAdapter(const AdapterEntry& entry, const std::string& logDirectory);

}  // namespace hlv
