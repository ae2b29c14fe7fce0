// What the operator's interrupt does once the update has been confirmed. Ctrl-C (SIGINT), a
// termination request (SIGTERM), a dropped terminal or SSH session (SIGHUP) and SIGQUIT are all
// taken as that interrupt.
#pragma once

#include <span>

namespace hlv {

// The signals taken as the operator's interrupt.
std::span<const int> interruptSignals();

// Registers the interrupt action (trace records, then exit with status 41 through the normal
// exit path), installs onInterrupt for every signal of interruptSignals(), and ignores SIGPIPE
// from here on: a write to a standard stream whose reader has gone then fails instead of ending
// the process wherever it is.
void installInterruptHandler();

// Called by the interrupt action, before the process exits, with the signal that brought the
// interrupt; null for none.
using InterruptObserver = void (*)(int signalNumber);
void setInterruptObserver(InterruptObserver observer);

// The handler: only records the interrupt (and the first signal that brought it); the main flow
// runs the action at its next checkpoint where no hold is active (platform/interrupt_hold.h).
void onInterrupt(int signalNumber);

}  // namespace hlv
