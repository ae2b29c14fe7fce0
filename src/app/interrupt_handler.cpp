// How an interrupt ends the program.
//
// Once the operator has confirmed the update, an interrupt must still leave the machine clean:
// the single-instance marker removed, the trace file flushed and closed, the adapters' register
// windows given back. All of that is the teardown of the session, which runs among the exit-time
// destructors (the process-wide options own the session). So the interrupt action records the
// interrupt in the trace and calls exit(41); exit() runs those destructors, exactly as a normal
// return from main does.
//
// SIGTERM (a service manager or a shutdown), SIGHUP (the terminal or the SSH session that ran
// the tool went away) and SIGQUIT would otherwise end the process on the spot, between a driver
// unbind and its bind or in the middle of a flash sequence; they are taken exactly like Ctrl-C.
//
// exit() and the trace writer may not run inside a signal handler: the signal may have landed
// inside the allocator or a stream, whose locks the exit-time code then waits for forever. The
// handler therefore only records the interrupt (platform::deliverInterrupt), and the main flow
// runs the action at its next checkpoint (platform/interrupt_hold.h): at once where it waits for
// the operator or sleeps, after each step of the session, and, while interrupts are held (a
// flash control object owns the flash interface, a hardware semaphore is held, an adapter's
// flash has been changed and its block is not finished), when the last hold is released.
//
// The handler is installed without SA_RESTART: a read of operator input or an open that waits
// gives way to the interrupt (EINTR) instead of resuming, so that the waiting code reaches its
// checkpoint. Every taken signal is blocked while the handler runs, and all of them are ignored
// once the action has begun, so exit() is never entered twice.
#include "app/interrupt_handler.h"

#include <signal.h>

#include <cstdlib>

#include "app/exit_status.h"
#include "app/interrupt_handler_trace.h"
#include "platform/interrupt_hold.h"

namespace hlv {
namespace tp = trace_points::interrupt_handler;
namespace {

constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The signal that brought the interrupt since the handler was installed; later ones (the
// redelivery of a pending interrupt included) do not replace it.
volatile sig_atomic_t gFirstSignal = 0;

// Used by the main flow only.
InterruptObserver gObserver = nullptr;

void setDisposition(int signalNumber, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  for (const int taken : kInterruptSignals)
    sigaddset(&action.sa_mask, taken);
  action.sa_flags = 0;
  sigaction(signalNumber, &action, nullptr);
}

void setInterruptDisposition(void (*handler)(int)) {
  for (const int signalNumber : kInterruptSignals)
    setDisposition(signalNumber, handler);
}

void endOnInterrupt() {
  setInterruptDisposition(SIG_IGN);
  trace::emit(tp::kInterrupted);
  trace::emit(tp::kInterruptSignal, static_cast<int32_t>(gFirstSignal));
  if (gObserver != nullptr) gObserver(gFirstSignal);
  std::exit(kExitInterrupted);
}

}  // namespace

std::span<const int> interruptSignals() {
  return kInterruptSignals;
}

void setInterruptObserver(InterruptObserver observer) {
  gObserver = observer;
}

void onInterrupt(int signalNumber) {
  if (gFirstSignal == 0) gFirstSignal = signalNumber;
  platform::deliverInterrupt();
}

void installInterruptHandler() {
  gFirstSignal = 0;
  platform::setInterruptAction(&endOnInterrupt);
  setInterruptDisposition(&onInterrupt);
  setDisposition(SIGPIPE, SIG_IGN);
}

}  // namespace hlv
