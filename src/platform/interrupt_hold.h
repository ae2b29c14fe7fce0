// Holding back the operator's interrupt while the flash interface is owned.
//
// The interrupt handler ends the process at once, except while a flash control object owns the
// adapter's flash interface: ending the process then would leave the interface registers
// unrestored, so the handler only marks the interrupt as pending, and the owner acts on it as
// soon as it has restored the registers and released the interface. The hold nests.
#pragma once

namespace hlv::platform {

using InterruptAction = void (*)();

// Sets what happens for an interrupt: called at once when no hold is active, or when the last
// hold is released if an interrupt arrived meanwhile. Null clears it.
void setInterruptAction(InterruptAction action);

// Called from the signal handler: runs the action now, or marks it pending while held.
// Async-signal-safe apart from the action itself.
void deliverInterrupt();

// Begins and ends a hold. Releasing the last hold runs a pending action.
void holdInterrupts();
void releaseInterrupts();

bool interruptPending();

// Holds interrupts for one scope.
class InterruptHold {
 public:
  InterruptHold() { holdInterrupts(); }
  ~InterruptHold() { releaseInterrupts(); }
  InterruptHold(const InterruptHold&) = delete;
  InterruptHold& operator=(const InterruptHold&) = delete;
};

}  // namespace hlv::platform
