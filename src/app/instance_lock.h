// The single-instance marker: a System V semaphore that exists while one copy of the tool runs.
#pragma once

#include <cstdint>
#include <memory>

namespace hlv {

// The semaphore's key is ftok of this name, taken relative to the current directory. Where no
// file of that name exists ftok fails and its -1 is used as the key, so every instance started
// without such a file shares one key.
inline constexpr const char* kInstanceKeyPath = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";

struct InstanceLock {
  InstanceLock() = default;
  ~InstanceLock();  // releaseInstanceLock
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  int32_t semaphoreId = -1;  // the semaphore this instance created, -1 when none
  // False only when the semaphore already existed: another instance runs. Any other failure to
  // create it lets the tool go on without the marker.
  bool isFirst = false;
};

// Creates the semaphore exclusively (permission bits 0) and holds its value at 1 with an
// operation the kernel undoes when the process ends. A semaphore that already exists but whose
// holder has gone (a run killed without its teardown) is taken over, and this lock removes it
// at the end. Null only when the lock itself cannot be allocated, with errno set; no semaphore
// is left behind then.
std::unique_ptr<InstanceLock> acquireInstanceLock();

// Removes the semaphore this lock created, if any. A semaphore that belongs to another instance
// is never touched.
void releaseInstanceLock(InstanceLock& lock);

}  // namespace hlv
