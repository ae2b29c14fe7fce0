#include "app/driver_restart_step.h"

#include <cstdio>

#include "app/console.h"
#include "app/driver_restart_step_trace.h"
#include "device/driver_control.h"

namespace hlv {
namespace tp = trace_points::driver_restart_step;

bool restartDriverStep(const AdapterEntry& entry, const char* line, uint32_t* status) {
  showStep(line);
  const AdapterInfo* adapter = entry.adapter.get();
  const uint32_t restart = adapter ? restartDriver(*adapter) : kStatusDriverRestartFailed;
  if (status != nullptr) *status = restart;
  if (restart != kStatusDriverRestarted) {
    trace::emit(tp::kRestartFailed, entry.index, restart);
    std::puts("[FAILED] ");
    return false;
  }
  std::puts("[OK] ");
  return true;
}

}  // namespace hlv
