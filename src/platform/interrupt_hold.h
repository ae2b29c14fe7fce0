// The operator's interrupt as the main flow sees it.
//
// The signal handler only records that an interrupt arrived; it runs nothing else, since the
// interrupt may land anywhere, inside the allocator or the standard streams included. The main
// flow acts on it at its checkpoints: the places where it waits (operator input, sleeps), the
// steps of the session, and the end of every hold. While a flash control object owns the
// adapter's flash interface, or a hardware semaphore is held, interrupts are held: acting on one
// then would leave the interface registers unrestored or the semaphore taken, so it waits until
// the last hold is released. The hold nests.
#pragma once

namespace hlv::platform {

using InterruptAction = void (*)();

// Sets what a checkpoint does for an interrupt that has arrived. Null clears it.
void setInterruptAction(InterruptAction action);

// Called from the signal handler: records the interrupt and, while nothing is held, has SIGINT
// delivered again shortly, so that a wait begun after the interrupt arrived gives way to it as
// well; the checkpoint that acts on the interrupt stops that. Async-signal-safe.
void deliverInterrupt();

// A checkpoint of the main flow: when an interrupt has arrived and no hold is active, clears it
// and runs the action (which may end the process).
void interruptCheckpoint();

// Begins and ends a hold. Releasing the last hold is a checkpoint.
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
