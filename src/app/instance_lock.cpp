#include "app/instance_lock.h"

#include <sys/ipc.h>
#include <sys/sem.h>

#include <cerrno>
#include <new>

#include "app/instance_lock_trace.h"

namespace hlv {
namespace tp = trace_points::instance_lock;

namespace {

// Raises the marker's value from 0 to 1 for as long as this process lives: the kernel undoes
// the operation when the process ends, however it ends (a kill -9 included). The test for 0 and
// the raise are one atomic operation, so of two runs only one can hold the marker. False with
// errno set (EAGAIN: somebody holds it).
bool holdMarker(int id) {
  sembuf ops[2] = {{0, 0, IPC_NOWAIT}, {0, 1, static_cast<short>(SEM_UNDO | IPC_NOWAIT)}};
  return semop(id, ops, 2) == 0;
}

// A marker left by a run that ended without its teardown: it was held once (its last operation
// has a time) and its holder's hold has been undone (its value is 0). A marker that was never
// held belongs to a run between creating and holding it. When it is stale it is taken over
// for this run.
bool takeOverStaleMarker(key_t key, int& id) {
  id = semget(key, 1, 0);
  if (id == -1) {
    trace::emit(tp::kMarkerNotOpened, errno);
    return false;
  }
  semid_ds state{};
  // The argument the caller of semctl declares itself.
  union {
    int value;
    semid_ds* buffer;
  } argument{};
  argument.buffer = &state;
  if (semctl(id, 0, IPC_STAT, argument) != 0) {
    trace::emit(tp::kMarkerNotExamined, id, errno);
    return false;
  }
  const int lastPid = semctl(id, 0, GETPID);
  if (state.sem_otime == 0) {
    trace::emit(tp::kMarkerBeingTaken, id);
    return false;
  }
  if (!holdMarker(id)) {
    trace::emit(tp::kMarkerHeld, id, lastPid, errno);
    return false;
  }
  trace::emit(tp::kStaleMarkerTakenOver, id, lastPid);
  return true;
}

}  // namespace

InstanceLock::~InstanceLock() {
  releaseInstanceLock(*this);
}

std::unique_ptr<InstanceLock> acquireInstanceLock() {
  // The lock is allocated before the semaphore is made: a semaphore whose lock could not be
  // allocated would never be removed and would lock out every later run.
  std::unique_ptr<InstanceLock> lock(new (std::nothrow) InstanceLock);
  if (!lock) {
    errno = ENOMEM;
    trace::emit(tp::kLockNotAllocated);
    return nullptr;
  }
  const key_t key = ftok(kInstanceKeyPath, 0);
  const int id = semget(key, 1, IPC_CREAT | IPC_EXCL);
  const int error = id == -1 ? errno : 0;
  lock->semaphoreId = id;
  lock->isFirst = !(id == -1 && error == EEXIST);
  trace::emit(tp::kSemaphoreCreated, static_cast<int32_t>(key), id, error, lock->isFirst);
  if (id != -1) {
    // Without the hold (an unprivileged run cannot operate on a marker of permissions 0) the
    // marker still keeps other runs out; it is only not recognised as stale should this run be
    // killed.
    if (!holdMarker(id)) trace::emit(tp::kMarkerNotHeld, id, errno);
  } else if (error == EEXIST) {
    int existing = -1;
    if (takeOverStaleMarker(key, existing)) {
      lock->semaphoreId = existing;
      lock->isFirst = true;
    }
  }
  return lock;
}

void releaseInstanceLock(InstanceLock& lock) {
  if (lock.semaphoreId == -1) return;
  if (semctl(lock.semaphoreId, 1, IPC_RMID) == 0)
    trace::emit(tp::kSemaphoreRemoved, lock.semaphoreId);
  else
    trace::emit(tp::kSemaphoreNotRemoved, lock.semaphoreId, errno);
  lock.semaphoreId = -1;
}

}  // namespace hlv
