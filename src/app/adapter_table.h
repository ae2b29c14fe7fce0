// The table of adapters and the two number prompts.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include "app/adapter_entry.h"

namespace hlv {

// Prints the table of entries on standard output: in update mode with each adapter's update
// status, in rollback mode with the firmware it can return to.
void showAdapterTable(const std::vector<AdapterEntry>& entries, bool rollbackMode);

// The position of the adapter the operator chose, or the number of entries when the operator
// quits with "q" or input ends. Anything else is answered "Invalid input" and asked again. The
// update prompt accepts only Available adapters; the rollback prompt accepts any. The streams are
// standard input and output unless a caller (a test) gives others.
std::size_t selectAdapterForUpdate(const std::vector<AdapterEntry>& entries,
                                   std::FILE* input = stdin, std::FILE* output = stdout);
std::size_t selectAdapterForRollback(const std::vector<AdapterEntry>& entries,
                                     std::FILE* input = stdin, std::FILE* output = stdout);

}  // namespace hlv
