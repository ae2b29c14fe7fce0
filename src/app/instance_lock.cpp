#include "app/instance_lock.h"

#include <sys/ipc.h>
#include <sys/sem.h>

#include <cerrno>
#include <new>

#include "app/instance_lock_trace.h"

namespace hlv {
namespace tp = trace_points::instance_lock;

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
