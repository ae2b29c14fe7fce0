// What the operator's interrupt (SIGINT) does once the update has been confirmed.
#pragma once

namespace hlv {

// Registers the interrupt action (trace record, then exit with status 41 through the normal
// exit path) and installs onInterrupt for SIGINT.
void installInterruptHandler();

// The SIGINT handler: hands the interrupt to the platform's hold mechanism, which runs the
// action now or, while the flash interface is owned, when the owner lets go of it.
void onInterrupt(int signalNumber);

}  // namespace hlv
