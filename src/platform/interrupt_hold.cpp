#include "platform/interrupt_hold.h"

#include <signal.h>

namespace hlv::platform {
namespace {

// Plain lock-free objects shared with the signal handler.
volatile sig_atomic_t gHoldDepth = 0;
volatile sig_atomic_t gPending = 0;
InterruptAction volatile gAction = nullptr;

}  // namespace

void setInterruptAction(InterruptAction action) {
  gAction = action;
}

void deliverInterrupt() {
  if (gHoldDepth > 0) {
    gPending = 1;
    return;
  }
  InterruptAction action = gAction;
  if (action != nullptr) action();
}

void holdInterrupts() {
  gHoldDepth = gHoldDepth + 1;
}

void releaseInterrupts() {
  if (gHoldDepth > 0) gHoldDepth = gHoldDepth - 1;
  if (gHoldDepth == 0 && gPending != 0) {
    gPending = 0;
    InterruptAction action = gAction;
    if (action != nullptr) action();
  }
}

bool interruptPending() {
  return gPending != 0;
}

}  // namespace hlv::platform
