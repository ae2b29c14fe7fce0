// The table of adapters and the two number prompts.
#pragma once

#include <cstddef>
#include <vector>

#include "app/adapter_entry.h"

namespace hlv {

// Prints the table of entries: in update mode with each adapter's update status, in rollback
// mode with the firmware it can return to.
void showAdapterTable(const std::vector<AdapterEntry>& entries, bool rollbackMode);

// The position of the adapter the operator chose, or the number of entries when the operator
// quits (also at end of input). The update prompt accepts only Available adapters; the rollback
// prompt accepts any.
std::size_t selectAdapterForUpdate(const std::vector<AdapterEntry>& entries);
std::size_t selectAdapterForRollback(const std::vector<AdapterEntry>& entries);

}  // namespace hlv
