// One instance of the tool per machine.
//
// Two locks keep a second run off the adapters. The machine-wide lock is an exclusive flock on a
// root-owned file under /run/lock (reached through the platform, so that a lab keeps its own):
// it does not depend on the working directory, and the kernel lets it go when the process ends,
// however it ends. The single-instance marker, a System V semaphore, stays as other copies of the
// tool know it; its key depends on the working directory, so it is the machine-wide lock that
// decides.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace hlv {

// The semaphore's key is ftok of this name, taken relative to the current directory. Where no
// file of that name exists ftok fails and its -1 is used as the key, so every instance started
// without such a file shares one key.
inline constexpr const char* kInstanceKeyPath = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";

// The machine-wide lock file, as the machine names it; the platform resolves the path.
inline constexpr const char* kMachineLockDirectory = "/run/lock";
inline constexpr const char* kMachineLockName = "hlvflashupdate.lock";

struct InstanceLock {
  InstanceLock() = default;
  ~InstanceLock();  // releaseInstanceLock
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Writes what happened while the lock was taken into the trace, once: the lock is taken before
  // the trace file is open, when nothing could be recorded yet.
  void writeHistory();

  int32_t semaphoreId = -1;  // the semaphore this instance created, -1 when none
  // False when another instance holds the machine-wide lock or a live single-instance marker.
  // A marker that cannot be made for another reason lets the tool go on under the machine-wide
  // lock alone.
  bool isFirst = false;
  int machineLockFd = -1;  // the descriptor that holds the machine-wide lock, -1 when none
  std::vector<std::function<void()>> history;  // trace records not written yet
};

// Takes the machine-wide lock, then the single-instance marker.
//
// The lock file is created 0600 and owned by the user the tool runs as, and holds the process ID
// of the run that has it. A name there that is not such a file (a link, another kind of file,
// another owner or mode, a second name of a file) is not this tool's lock: it is removed, which
// is said on standard error, and the lock is taken on a file of its own. So is a marker that
// this tool did not make as the user it runs as (another owner or creator, another mode).
// A marker whose holder has gone (a run killed without its teardown) is taken over, and this lock
// removes it at the end.
//
// Null, with errno set, when the lock cannot be allocated or the machine-wide lock cannot be
// taken for any other reason than another instance holding it: a tool that cannot be sure it
// runs alone must not touch adapters. No semaphore is left behind then.
std::unique_ptr<InstanceLock> acquireInstanceLock();

// Removes the semaphore this lock created or took over, if any, and lets the machine-wide lock go
// (its file stays: removing it would let a run that is opening it lock a file nobody else sees).
// A semaphore that belongs to another instance is never touched.
void releaseInstanceLock(InstanceLock& lock);

}  // namespace hlv
