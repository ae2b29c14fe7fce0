#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_DIRECT_FLASH_UPDATE_POINTS(X)                                                          \
  X(kOpened, 0, "DirectFlashUpdate: adapter {}, registers mapped: {}", Text, Bool)                 \
  X(kNoAdapter, 1, "DirectFlashUpdate: no adapter behind this instance")                           \
  X(kUpdate, 2, "update: image of {x} bytes, {} bytes of MAC data, {} bytes of PHY data", U32,    \
    U32, U32)                                                                                      \
  X(kUpdateResult, 3, "update: result {}", U32)                                                    \
  X(kReloadRefused, 4, "reloadFirmware: refused, no successful update through this instance")     \
  X(kReadContents, 5, "readFlashContents: capacity {x}", U32)                                      \
  X(kReadInitFailed, 6, "readFlashContents: flash interface not ready")                            \
  X(kReadBufferTooSmall, 7, "readFlashContents: capacity {x}, flash size {x}", U32, U32)           \
  X(kReadFailed, 8, "readFlashContents: read failed with {}", U32)                                 \
  X(kReadDone, 9, "readFlashContents: result {}", U32)                                             \
  X(kRollback, 10, "rollbackFirmware")                                                             \
  X(kPreviousVersion, 11, "getFirmwareVersions: previous version readout gave {}", U32)            \
  X(kVersions, 12, "getFirmwareVersions: result {}", U32)                                          \
  X(kImageTooSmall, 13, "inspectImage: image of {x} bytes", U32)                                   \
  X(kImageTypeUnknown, 14, "inspectImage: image type not recognised")                              \
  X(kImageInspected, 15, "inspectImage: result {}, type {}", U32, U32)                             \
  X(kKeyImageTooSmall, 16, "checkImageKey: image of {x} bytes, {x} needed", U32, U32)              \
  X(kKeyChecked, 17, "checkImageKey: key accepted: {}", Bool)                                      \
  X(kCheckRollbackBackup, 18, "planRollback: backup of {} bytes", U64)                      \
  X(kRollbackBackupChecked, 19, "planRollback: result {}", U32)                             \
  X(kRollbackFromBackup, 20, "rollbackFromBackup: backup of {} bytes", U64)
// clang-format on
HLV_TRACE_TABLE(direct_flash_update, kComponentApp, file::kUpdateInterface,
                HLV_DIRECT_FLASH_UPDATE_POINTS)
#undef HLV_DIRECT_FLASH_UPDATE_POINTS
