#include "trace/trace_control.h"

#include "trace/trace_sink.h"

namespace hlv::trace {

bool TraceControlInt::start(const platform::Directory& logDirectory) {
  traceOpen(logDirectory, kTraceFileName);
  return true;
}

void TraceControlInt::stop() {
  traceClose();
}

std::unique_ptr<TraceControl> createTraceControl() {
  auto control = std::make_unique<TraceControlInt>();
  control->name = "VoFlashUpdateTrace";
  return control;
}

}  // namespace hlv::trace
