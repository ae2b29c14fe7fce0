#include "app/program_options.h"

#include "app/update_session.h"
#include "platform/platform.h"
#include "trace/trace_sink.h"

namespace hlv {

// The trace sink and the platforms (the Linux one and any a host installs) are kept by objects
// built on first use and destroyed at exit in the reverse order of their building. Both are
// built here, inside this constructor, so both are destroyed after this object: the session's
// teardown still writes its records to the file and still releases the adapters' register
// windows through a living platform.
ProgramOptions::ProgramOptions() {
  trace::traceEnable("VoFlashUpdate");
  (void)platform::current();
}

ProgramOptions::~ProgramOptions() {
  session.reset();
  trace::traceDisable();
}

}  // namespace hlv
