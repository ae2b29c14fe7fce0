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

// Runs one of them on the adapter; prints what it says and returns the exit status. The lab's
// platform is installed first, and the tool's interrupt handling (an interrupt ends the process
// with 41 through exit, at the next point where no hardware semaphore or flash interface is held).
int runAdapterSubcommand(Lab& lab, LabAdapter& entry, std::string_view name, const Arguments& args);

// Bytes from hex digits, two per byte, upper or lower case ("" is no bytes). False for an odd
// count or another character.
bool decodeHexBytes(std::string_view text, std::vector<uint8_t>& bytes);

}  // namespace hlv::sim::tool
