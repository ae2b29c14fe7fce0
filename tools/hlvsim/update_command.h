// hlvsim flash LAB BDF update IMAGE [--mac HEX] [--phy HEX]
#pragma once

#include "flashctl/voapiflashcontrol.h"
#include "sim/lab.h"
#include "tools/hlvsim/commands.h"

namespace hlv::sim::tool {

// Runs the engine's firmware update on the adapter with the image file; prints "status N" and
// returns kExitOk only for status 0.
int updateFlash(LabAdapter& entry, VoApiFlashControl& flash, const Arguments& args);

}  // namespace hlv::sim::tool
