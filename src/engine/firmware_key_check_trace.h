#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_FIRMWARE_KEY_CHECK_POINTS(X)                                                          \
  X(kNoKeyFuses, 240, "checkFirmwareKey: chip revision {x} has no key fuses", U32)                \
  X(kSemaphoreNotGranted, 241, "checkFirmwareKey: fuse semaphore not granted after {} ms", U64)   \
  X(kFuseWord, 242, "checkFirmwareKey: fuse word {x} reads {x}", U8, U32)                         \
  X(kNoKeyFused, 243, "checkFirmwareKey: status word {x}: no key fused", U32)                     \
  X(kDigestNotFused, 244, "checkFirmwareKey: the digest fuses are all zero")                      \
  X(kImageWithoutKey, 245, "checkFirmwareKey: the image carries no key block")                    \
  X(kCompared, 246, "checkFirmwareKey: digests equal: {}", Bool)
// clang-format on
HLV_TRACE_TABLE(firmware_key_check, kComponentEngine, file::kEngineFurther,
                HLV_FIRMWARE_KEY_CHECK_POINTS)
#undef HLV_FIRMWARE_KEY_CHECK_POINTS
