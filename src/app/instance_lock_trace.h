#pragma once

#include "trace/trace_point.h"

// Points 20 to 29 of the session's pair.
#define HLV_INSTANCE_LOCK_POINTS(X)                                                                \
  X(kLockNotAllocated, 20, "instance lock cannot be allocated")                                    \
  X(kSemaphoreCreated, 21, "semaphore key {x}: id {}, errno {}, first instance {}", I32, I32, I32, \
    Bool)                                                                                          \
  X(kSemaphoreRemoved, 22, "semaphore {} removed", I32)                                            \
  X(kSemaphoreNotRemoved, 23, "semaphore {} cannot be removed: errno {}", I32, I32)
HLV_TRACE_TABLE(instance_lock, kComponentApp, file::kUpdateSession, HLV_INSTANCE_LOCK_POINTS)
#undef HLV_INSTANCE_LOCK_POINTS
