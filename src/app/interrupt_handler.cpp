// How an interrupt ends the program.
//
// Once the operator has confirmed the update, SIGINT must still leave the machine clean: the
// single-instance semaphore removed, the trace file flushed and closed, the adapters' register
// windows given back. All of that is the teardown of the session, which runs among the
// exit-time destructors (the process-wide options own the session). So the interrupt action
// records the interrupt in the trace and calls exit(41); exit() runs those destructors, exactly
// as a normal return from main does.
//
// The one place where ending the process at once would do harm is while a flash control object
// owns the adapter's flash interface: its registers would stay in the state the flash sequence
// left them in. That object holds interrupts (platform::InterruptHold) for as long as it owns
// the interface. The handler does not call the action itself; it calls
// platform::deliverInterrupt(), which runs the action only when no hold is active and otherwise
// marks it pending. Releasing the last hold, after the interface has been restored, runs the
// pending action, now outside the signal handler.
//
// Calling exit() from a signal handler is not async-signal-safe in general. The program is
// single-threaded and, outside the held stretches, waits in blocking reads of standard input,
// in file operations and in register polls, where the risk is small; it is the price of having
// the whole teardown run. A second interrupt while the first is ending the process is ignored,
// so exit() is never entered twice.
#include "app/interrupt_handler.h"

#include <signal.h>

#include <cstdlib>

#include "app/exit_status.h"
#include "app/interrupt_handler_trace.h"
#include "platform/interrupt_hold.h"

namespace hlv {
namespace tp = trace_points::interrupt_handler;
namespace {

// Interrupted reads and waits resume once the handler returns (the action runs later when it is
// held back); SIGINT itself is blocked while the handler runs.
void setInterruptDisposition(void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
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
