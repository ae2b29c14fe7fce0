// The command line: -s, -a NAME, -h or -?, and -r; "/" works exactly like "-".
#pragma once

#include "app/program_options.h"

namespace hlv {

// Printed with "%s \n" when the command line is rejected or help is asked for. The rollback
// option is deliberately not listed.
inline constexpr const char* kUsageText =
    "\nUsage:\n"
    "  hlvflashupdate [-a <DEVICE_NAME>]\n"
    "  hlvflashupdate -s [-a <DEVICE_NAME>]\n"
    "\n"
    "Options:\n"
    "    -s         Silent mode. Update all compatible devices.\n"
    "    -a <NAME>  Name of the adapter to be updated (device display name in the Device "
    "Manager).\n"
    "    -h         Show this message.\n";

// Reads the arguments after the program name, left to right, into options. True when the
// options are usable (help included: -h or -? ends the parsing at once); false, after a
// message naming the fault, when the usage text must be shown.
bool parseCommandLine(int argc, char** argv, ProgramOptions& options);

}  // namespace hlv
