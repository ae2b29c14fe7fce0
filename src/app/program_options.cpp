#include "app/program_options.h"

#include "app/update_session.h"
#include "trace/trace_sink.h"

namespace hlv {

// The trace sink is built here, inside this constructor, so it is destroyed after this object:
// the session's teardown records still reach the file, which the sink then closes.
ProgramOptions::ProgramOptions() {
  trace::traceEnable("VoFlashUpdate");
}

ProgramOptions::~ProgramOptions() {
  session.reset();
  trace::traceDisable();
}

}  // namespace hlv
