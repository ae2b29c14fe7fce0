#pragma once

#include "trace/trace_point.h"

#define HLV_INSTANCE_LOCK_POINTS(X)                                                                \
  X(kLockNotAllocated, 20, "instance lock cannot be allocated")                                    \
  X(kSemaphoreCreated, 21, "semaphore key {x}: id {}, errno {}, first instance {}", I32, I32, I32, \
    Bool)                                                                                          \
  X(kSemaphoreRemoved, 22, "semaphore {} removed", I32)                                            \
  X(kSemaphoreNotRemoved, 23, "semaphore {} cannot be removed: errno {}", I32, I32)                \
  X(kMarkerNotHeld, 24, "semaphore {} not held for this run: errno {}", I32, I32)                  \
  X(kMarkerNotOpened, 25, "existing semaphore cannot be opened: errno {}", I32)                    \
  X(kMarkerNotExamined, 26, "semaphore {} cannot be examined: errno {}", I32, I32)                 \
  X(kMarkerBeingTaken, 27, "semaphore {} not held yet: another run is starting", I32)              \
  X(kMarkerHeld, 28, "semaphore {} held by a live run (last pid {}): errno {}", I32, I32, I32)     \
  X(kStaleMarkerTakenOver, 29, "semaphore {} left by pid {}, which ended: taken over", I32, I32)   \
  X(kMachineLockTaken, 40, "machine-wide lock {} taken, descriptor {}", Text, I32)                 \
  X(kMachineLockHeld, 41, "machine-wide lock {} held by another instance, pid {}", Text, I32)      \
  X(kMachineLockFailed, 42, "machine-wide lock {} cannot be taken: errno {}", Text, I32)           \
  X(kLockDirectoryMade, 43, "lock directory {} made", Text)                                        \
  X(kForeignLockRemoved, 44,                                                                       \
    "{} was not this tool's lock (mode {x}, owner {}, names {}): removed", Text, U32, U32, U64)    \
  X(kForeignLockNotRemoved, 45, "{} is not this tool's lock and cannot be removed: errno {}",      \
    Text, I32)                                                                                     \
  X(kLockFileReplaced, 46, "{} was removed or replaced while it was being locked: again", Text)    \
  X(kForeignMarkerRemoved, 47,                                                                     \
    "semaphore {} (owner {}, creator {}, mode {x}) was not made by this tool: removed", I32, U32,  \
    U32, U32)                                                                                      \
  X(kForeignMarkerNotRemoved, 48,                                                                  \
    "semaphore {} (owner {}, creator {}, mode {x}) was not made by this tool and cannot be "       \
    "removed: errno {}",                                                                           \
    I32, U32, U32, U32, I32)                                                                       \
  X(kForeignMarkerStays, 49,                                                                       \
    "a foreign semaphore stays: the run goes on under the machine-wide "                           \
    "lock")                                                                                        \
  X(kMachineLockReleased, 50, "machine-wide lock released, descriptor {}", I32)                    \
  X(kHolderNotRecorded, 51, "the process ID cannot be written into {}: errno {}", Text, I32)
HLV_TRACE_TABLE(instance_lock, kComponentApp, file::kUpdateSession, HLV_INSTANCE_LOCK_POINTS)
#undef HLV_INSTANCE_LOCK_POINTS
