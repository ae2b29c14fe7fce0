#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_ROLLBACK_POINTS(X)                                                                     \
  X(kStart, 420, "rollbackToPreviousImage")                                                        \
  X(kNoMemory, 421, "rollbackToPreviousImage: no memory for {x} bytes", U32)                       \
  X(kInitFailed, 422, "rollbackToPreviousImage: flash interface not ready")                        \
  X(kReadFailed, 423, "rollbackToPreviousImage: reading the blocks failed with {}", U32)           \
  X(kNoActiveNcb, 424, "rollbackToPreviousImage: no block is active")                              \
  X(kCurrentInvalid, 425, "rollbackToPreviousImage: current block at {x} invalid, status {}", U32, \
    U32)                                                                                           \
  X(kPreviousDamaged, 426, "rollbackToPreviousImage: previous block fails its CRC or structure")   \
  X(kPreviousMarkedUnusable, 427, "rollbackToPreviousImage: previous block marked unusable")       \
  X(kPreviousHasFreeArea, 428,                                                                     \
    "rollbackToPreviousImage: previous block describes a free area at {x} size {x}", U32, U32)     \
  X(kComponentOutsideBank, 429,                                                                    \
    "rollbackToPreviousImage: a component of the previous block lies outside its bank")            \
  X(kComponentReadFailed, 430, "rollbackToPreviousImage: component {} unreadable, status {}", U8,  \
    U32)                                                                                           \
  X(kComponentCrcMismatch, 431,                                                                    \
    "rollbackToPreviousImage: component {} computed {x}, recorded {x}", U8, U16, U16)              \
  X(kPartUnsuitable, 432, "rollbackToPreviousImage: sector size {x}, part size {x} refused", U32,  \
    U32)                                                                                           \
  X(kActivating, 433, "rollbackToPreviousImage: activating block at {x}, first {x} bytes", U32,    \
    U32)                                                                                           \
  X(kActivationFailed, 434,                                                                        \
    "rollbackToPreviousImage: activating block at {x} failed with {}, cleared {}", U32, U32, Bool) \
  X(kDeactivating, 435, "rollbackToPreviousImage: deactivating block at {x}", U32)                 \
  X(kDeactivationFailed, 436, "rollbackToPreviousImage: deactivating block at {x} failed with {}", \
    U32, U32)                                                                                      \
  X(kDone, 437, "rollbackToPreviousImage: block at {x} active", U32)                               \
  X(kStartFromBackup, 438, "rollbackFromBackup")                                                   \
  X(kBackupCheck, 439, "rollback backup: {} bytes checked against the flash", U64)                 \
  X(kBackupWrongSize, 440, "rollback backup: {} bytes, the flash holds {}", U64, U32)              \
  X(kBackupNotNeeded, 441,                                                                         \
    "rollback backup: not used, the flash's own block at {x} can be activated", U32)               \
  X(kBackupCurrentDiffers, 442, "rollback backup: its block at {x} differs from the running one",  \
    U32)                                                                                           \
  X(kBackupPreviousDiffers, 443,                                                                   \
    "rollback backup: its block at {x} differs from the flash after its first {x} bytes", U32,    \
    U32)                                                                                           \
  X(kBackupPreviousActive, 444, "rollback backup: its block at {x} was active as well", U32)       \
  X(kBackupPreviousRefused, 445, "rollback backup: its block at {x} refused with {}", U32, U32)    \
  X(kBackupAccepted, 446, "rollback backup: its block at {x} finishes the rollback", U32)         \
  X(kBackupSectorNotLeftByRollback, 447,                                                           \
    "rollback backup: the flash byte at {x} ({x}) was not left by a rollback of the backup's ({x})",\
    U32, U8, U8)                                                                                   \
  X(kPlan, 448, "planRollback: backup of {} bytes", U64)                                           \
  X(kPlanVersionUnreadable, 449, "planRollback: a version could not be read, status {}", U32)      \
  X(kPlanned, 450, "planRollback: activates the block at {x}, deactivates the one at {x}", U32,    \
    U32)                                                                                           \
  X(kBackupCurrentTaken, 451,                                                                      \
    "rollback backup: its readers took the block at {x}; on the flash NCB0 reads active {}", U32,  \
    Bool)
// clang-format on
HLV_TRACE_TABLE(rollback, kComponentEngine, file::kEngine, HLV_ROLLBACK_POINTS)
#undef HLV_ROLLBACK_POINTS
