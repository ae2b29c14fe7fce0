#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_MDIO_ACCESS_POINTS(X)                                                                  \
  X(kSemaphoreNotGranted, 100, "takeHwSemaphore: not granted after {} ms", U64)                    \
  X(kSetup, 101, "setupMdio: setup was {x}; enable {}, divider {}", U32, Bool, U8)                 \
  X(kSetupBusy, 102, "setupMdio: the interface stayed busy")                                       \
  X(kReadAddressTimeout, 103, "mdioRead: phy {} device {x} register {x}: address frame never ended",\
    U32, U32, U32)                                                                                 \
  X(kReadTimeout, 104, "mdioRead: phy {} device {x} register {x}: read frame never ended", U32,    \
    U32, U32)                                                                                      \
  X(kWriteDropped, 105,                                                                            \
    "mdioWrite: phy {} device {x} register {x}: address frame never ended, {x} not written", U32,  \
    U32, U32, U16)                                                                                 \
  X(kWriteTimeout, 106, "mdioWrite: phy {} device {x} register {x}: write frame of {x} never ended",\
    U32, U32, U32, U16)                                                                            \
  X(kLockedReadSkipped, 107, "mdioReadLocked: phy {} register {x}: no semaphore, nothing read",    \
    U32, U32)                                                                                      \
  X(kLockedWriteSkipped, 108,                                                                      \
    "mdioWriteLocked: phy {} device {x} register {x}: no semaphore, {x} not written", U32, U32,    \
    U32, U16)                                                                                      \
  X(kScanSkipped, 109, "findPhyAddress: no semaphore for address {}", U32)                         \
  X(kPhyFound, 110, "findPhyAddress: PHY at {} answers {x}", U32, U32)                             \
  X(kNoPhy, 111, "findPhyAddress: no PHY answers")
// clang-format on
HLV_TRACE_TABLE(mdio_access, kComponentEngine, file::kFirmwareControl, HLV_MDIO_ACCESS_POINTS)
#undef HLV_MDIO_ACCESS_POINTS
