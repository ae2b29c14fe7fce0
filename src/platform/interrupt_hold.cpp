#include "platform/interrupt_hold.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

namespace hlv::platform {
namespace {

// Shared with the signal handler: plain lock-free objects.
volatile sig_atomic_t gPending = 0;
volatile sig_atomic_t gHoldDepth = 0;
// Used by the main flow only.
InterruptAction gAction = nullptr;

// A call that waits (an open, a read) may have begun after the interrupt arrived but before the
// main flow reached its checkpoint, and would then wait on. So while an interrupt is pending and
// nothing is held, SIGINT is delivered again after kRedeliveryNs, breaking such a wait off; the
// checkpoint that acts on the interrupt disarms it. Held stretches wait for their release and
// are not disturbed.
constexpr long kRedeliveryNs = 100'000'000;
timer_t gRedelivery{};
pid_t gRedeliveryOwner = 0;  // the process that created the timer (a forked child has none)
volatile sig_atomic_t gRedeliveryCreated = 0;

void armRedelivery(long nanoseconds) {
  if (gRedeliveryCreated == 0) return;
  itimerspec when{};
  when.it_value.tv_nsec = nanoseconds;
  timer_settime(gRedelivery, 0, &when, nullptr);  // async-signal-safe
}

}  // namespace

void setInterruptAction(InterruptAction action) {
  gAction = action;
  if (action != nullptr && (gRedeliveryCreated == 0 || gRedeliveryOwner != getpid())) {
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGINT;
    gRedeliveryCreated = timer_create(CLOCK_MONOTONIC, &event, &gRedelivery) == 0 ? 1 : 0;
    gRedeliveryOwner = getpid();
  }
  if (action == nullptr) armRedelivery(0);
}

void deliverInterrupt() {
  gPending = 1;
  if (gHoldDepth == 0) armRedelivery(kRedeliveryNs);
}

void interruptCheckpoint() {
  if (gPending == 0 || gHoldDepth > 0) return;
  gPending = 0;
  armRedelivery(0);
  if (gAction != nullptr) gAction();
}

void holdInterrupts() {
  gHoldDepth = gHoldDepth + 1;
}

void releaseInterrupts() {
  if (gHoldDepth > 0) gHoldDepth = gHoldDepth - 1;
  interruptCheckpoint();
}

bool interruptPending() {
  return gPending != 0;
}

}  // namespace hlv::platform
