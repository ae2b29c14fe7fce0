#pragma once

#include "trace/trace_point.h"

#define HLV_FLASH_BACKUP_POINTS(X)                                 \
  X(kRead, 200, "readFlashImage: {x} bytes", U32)                  \
  X(kInitFailed, 201, "readFlashImage: flash interface not ready") \
  X(kResult, 202, "readFlashImage: status {}", U32)
HLV_TRACE_TABLE(flash_backup, kComponentEngine, file::kEngineFurther, HLV_FLASH_BACKUP_POINTS)
#undef HLV_FLASH_BACKUP_POINTS
