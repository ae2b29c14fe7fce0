#include "app/adapter_table.h"

#include "app/adapter_table_trace.h"

namespace hlv {
namespace tp = trace_points::adapter_table;

// The table and the prompts are not part of the program yet. Until they are, nothing is shown
// and the prompts answer as if the operator had quit, so that nothing is ever acted on without
// the operator's choice.

void showAdapterTable(const std::vector<AdapterEntry>& entries, bool rollbackMode) {
  trace::emit(tp::kTableNotShown, static_cast<uint64_t>(entries.size()), rollbackMode);
}

std::size_t selectAdapterForUpdate(const std::vector<AdapterEntry>& entries) {
  trace::emit(tp::kPromptNotOffered, static_cast<uint64_t>(entries.size()));
  return entries.size();
}

std::size_t selectAdapterForRollback(const std::vector<AdapterEntry>& entries) {
  trace::emit(tp::kPromptNotOffered, static_cast<uint64_t>(entries.size()));
  return entries.size();
}

}  // namespace hlv
