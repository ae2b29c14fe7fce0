#pragma once

#include "trace/trace_point.h"

// Points 20 to 29 of the session's pair.
#define HLV_INSTANCE_LOCK_POINTS(X)                                                                \
  X(kLockNotAllocated, 20, "instance lock cannot be allocated")                                    \
  X(kSemaphoreCreated, 21, "semaphore key {x}: id {}, errno {}, first instance {}", I32, I32, I32, \
    Bool)                                                                                          \
  X(kSemaphoreRemoved, 22, "semaphore {} removed", I32)                                            \
  X(kSemaphoreNotRemoved, 23, "semaphore {} cannot be removed: errno {}", I32, I32)               \
  X(kMarkerNotHeld, 24, "semaphore {} not held for this run: errno {}", I32, I32)                  \
  X(kMarkerNotOpened, 25, "existing semaphore cannot be opened: errno {}", I32)                   \
  X(kMarkerNotExamined, 26, "semaphore {} cannot be examined: errno {}", I32, I32)                \
  X(kMarkerBeingTaken, 27, "semaphore {} not held yet: another run is starting", I32)             \
  X(kMarkerHeld, 28, "semaphore {} held by a live run (last pid {}): errno {}", I32, I32, I32)     \
  X(kStaleMarkerTakenOver, 29, "semaphore {} left by pid {}, which ended: taken over", I32, I32)
HLV_TRACE_TABLE(instance_lock, kComponentApp, file::kUpdateSession, HLV_INSTANCE_LOCK_POINTS)
#undef HLV_INSTANCE_LOCK_POINTS
