// The program's entry, shared by the tool itself and by the programs that run it on an emulated
// machine (they install their own platform first).
#pragma once

namespace hlv {

// Banner, root check, command line, notice, confirmation, interrupt handler, tool directory,
// then the update session. Returns the process exit status (see exit_status.h). The session
// stays alive in gProgramOptions and is torn down among the exit-time destructors.
int programMain(int argc, char** argv);

}  // namespace hlv
