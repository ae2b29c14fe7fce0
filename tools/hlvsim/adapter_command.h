// hlvsim flash LAB BDF update | rollback | versions | backup | reload | keycheck: the adapter
// update interface the tool holds per adapter (DirectFlashUpdate), on one lab adapter, reached
// through the lab's sysfs and register window as the tool reaches a real one.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "sim/lab.h"
#include "tools/hlvsim/commands.h"

namespace hlv::sim::tool {

// True for the subcommands this file runs.
bool isAdapterSubcommand(std::string_view name);

// Runs one of them on the adapter of the session's lab (see lab_session.h); prints what it says
// and returns the exit status. The tool's interrupt handling is installed first (an interrupt
// ends the process with 41 through exit, at the next point where no hardware semaphore or flash
// interface is held).
int runAdapterSubcommand(Lab& lab, LabAdapter& entry, std::string_view name, const Arguments& args);

}  // namespace hlv::sim::tool
