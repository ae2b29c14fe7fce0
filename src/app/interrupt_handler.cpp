// How an interrupt ends the program.
//
// Once the operator has confirmed the update, SIGINT must still leave the machine clean: the
// single-instance semaphore removed, the trace file flushed and closed, the adapters' register
// windows given back. All of that is the teardown of the session, which runs among the
// exit-time destructors (the process-wide options own the session). So the interrupt action
// records the interrupt in the trace and calls exit(41); exit() runs those destructors, exactly
// as a normal return from main does.
//
// exit() and the trace writer may not run inside a signal handler: the signal may have landed
// inside the allocator or a stream, whose locks the exit-time code then waits for forever. The
// handler therefore only records the interrupt (platform::deliverInterrupt), and the main flow
// runs the action at its next checkpoint (platform/interrupt_hold.h): at once where it waits for
// the operator or sleeps, after each step of the session, and, while a flash control object owns
// the flash interface or a hardware semaphore is held, when the last hold is released.
//
// The handler is installed without SA_RESTART: a read of operator input or an open that waits
// gives way to the interrupt (EINTR) instead of resuming, so that the waiting code reaches its
// checkpoint. A second interrupt while the first is ending the process is ignored, so exit() is
// never entered twice.
#include "app/interrupt_handler.h"

#include <signal.h>

#include <cstdlib>

#include "app/exit_status.h"
#include "app/interrupt_handler_trace.h"
#include "platform/interrupt_hold.h"

namespace hlv {
namespace tp = trace_points::interrupt_handler;
namespace {

// SIGINT itself is blocked while the handler runs.
void setInterruptDisposition(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
}

void endOnInterrupt() {
  setInterruptDisposition(SIG_IGN);
  trace::emit(tp::kInterrupted);
  std::exit(kExitInterrupted);
}

}  // namespace

void onInterrupt(int signalNumber) {
  (void)signalNumber;
  platform::deliverInterrupt();
}

void installInterruptHandler() {
  platform::setInterruptAction(&endOnInterrupt);
  setInterruptDisposition(&onInterrupt);
}

}  // namespace hlv
