// The lab a hlvsim command works on, kept for the whole process.
//
// The tool program tears its session down among the exit-time destructors, after its entry
// function has returned or from exit() (the interrupt path), and that teardown may still unmap
// register windows. So the lab and its platform are allocated once and never freed, and the
// counters are written by an object built before every other static object of the program and
// therefore destroyed after all of them.
#pragma once

#include <string>

#include "sim/lab.h"
#include "sim/lab_platform.h"

namespace hlv::sim::tool {

// Opens the lab for this process; null with a message on failure. At process exit the stats of
// every adapter of the lab are written.
Lab* openSessionLab(const std::string& root, std::string& error);

// The platform of the session's lab, built on first use.
LabPlatform& sessionPlatform(uid_t userId);

// Creates LAB/proc/<pid>/exe pointing at LAB/tool/hlvflashupdate; it is removed at exit.
bool linkToolExecutable(std::string& error);

// Writes the stats and removes what the session created; runs once, at exit or when called.
void finishSession();

}  // namespace hlv::sim::tool
