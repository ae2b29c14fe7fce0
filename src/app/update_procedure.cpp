#include "app/update_procedure.h"

#include "app/update_procedure_trace.h"

namespace hlv {
namespace tp = trace_points::update_procedure;

uint32_t updateAdapter(const AdapterEntry& entry, const std::string& logDirectory) {
  (void)logDirectory;
  trace::emit(tp::kUpdateStarted, entry.index);
  // The adapter update interface is not part of the program yet: no adapter can be written.
  trace::emit(tp::kNoUpdateInterface, entry.index);
  return kUpdateNotPossible;
}

}  // namespace hlv
