#include "app/rollback_procedure.h"

#include "app/rollback_procedure_trace.h"
#include "app/update_session.h"

namespace hlv {
namespace tp = trace_points::rollback_procedure;

// The rollback needs the adapter update interface, which is not part of the program yet: no
// adapter has a previous firmware the program could return to.

uint32_t rollbackSelection(UpdateSession& session) {
  trace::emit(tp::kRollbackSelection, static_cast<uint64_t>(session.adapters().size()));
  return kRollbackNotPossible;
}

uint32_t rollbackAdapter(const AdapterEntry& entry, const std::string& logDirectory) {
  (void)logDirectory;
  trace::emit(tp::kRollbackStarted, entry.index);
  trace::emit(tp::kNoPreviousFirmware, entry.index);
  return kRollbackNotPossible;
}

}  // namespace hlv
