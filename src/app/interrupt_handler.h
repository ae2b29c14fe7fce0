// What the operator's interrupt (SIGINT) does once the update has been confirmed.
#pragma once

namespace hlv {

// Registers the interrupt action (trace record, then exit with status 41 through the normal
// exit path) and installs onInterrupt for SIGINT.
void installInterruptHandler();

// The SIGINT handler: only records the interrupt; the main flow runs the action at its next
// checkpoint where no hold is active (platform/interrupt_hold.h).
void onInterrupt(int signalNumber);

}  // namespace hlv
