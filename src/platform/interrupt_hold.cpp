#include "platform/interrupt_hold.h"

#include <signal.h>

namespace hlv::platform {
namespace {

// The one object the signal handler touches: a plain lock-free flag.
volatile sig_atomic_t gPending = 0;
// Used by the main flow only.
int gHoldDepth = 0;
InterruptAction gAction = nullptr;

}  // namespace

void setInterruptAction(InterruptAction action) {
  gAction = action;
}

void deliverInterrupt() {
  gPending = 1;
}

void interruptCheckpoint() {
  if (gPending == 0 || gHoldDepth > 0) return;
  gPending = 0;
  if (gAction != nullptr) gAction();
}

void holdInterrupts() {
  ++gHoldDepth;
}

void releaseInterrupts() {
  if (gHoldDepth > 0) --gHoldDepth;
  interruptCheckpoint();
}

bool interruptPending() {
  return gPending != 0;
}

}  // namespace hlv::platform
