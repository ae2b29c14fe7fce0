#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_FIRMWARE_VERSION_POINTS(X)                                                            \
  X(kNoHeader, 0, "parseFirmwareVersion: no header in {x} bytes", U32)                            \
  X(kPrefixNotZero, 1, "parseFirmwareVersion: bytes before the header at {x} are not zero", U32)  \
  X(kHeaderAt, 2, "parseFirmwareVersion: header at {x}", U32)                                     \
  X(kHeaderWords, 3, "header words {x} {x} {x} {x} {x} {x}", U32, U32, U32, U32, U32, U32)        \
  X(kHeaderWords2, 4, "header words {x} {x} {x} {x} {x} {x} {x}", U32, U32, U32, U32, U32, U32,  \
    U32)                                                                                          \
  X(kSettingsOutside, 5, "parseFirmwareVersion: settings block at {x} passes {x} bytes", U64,     \
    U32)                                                                                          \
  X(kPatchOutside, 6, "parseFirmwareVersion: patch stream at {x}, {x} bytes, passes {x} bytes",   \
    U64, U32, U32)                                                                                \
  X(kPatchResult, 7, "parseFirmwareVersion: patch records gave {}, {x} bytes", I32, U32)          \
  X(kVersionFromSettings, 8, "parseFirmwareVersion: version {}.{}.{} from the settings block",    \
    U32, U32, U32)                                                                                \
  X(kVersionFromHeader, 9, "parseFirmwareVersion: version {}.{}.{} from the header", U32, U32,    \
    U32)                                                                                          \
  X(kVersionOutOfRange, 10, "parseFirmwareVersion: header version {} {} {} out of range", U32,    \
    U32, U32)                                                                                     \
  X(kPart2ReadNoMemory, 11, "readFirmwareVersion: no memory for {x} bytes", U32)                  \
  X(kPart2ReadFailed, 12, "readFirmwareVersion: reading {x} bytes at {x} gave {}", U32, U32, U32) \
  X(kPart2TooShort, 13, "readFirmwareVersion: MAC part 2 of {x} bytes is too short", U32)         \
  X(kCurrentInitFailed, 14, "readCurrentVersion: flash interface not ready")                      \
  X(kCurrentNoMemory, 15, "readCurrentVersion: no memory")                                        \
  X(kCurrentNoActive, 16, "readCurrentVersion: no valid active block")                            \
  X(kPreviousNotReady, 17, "readPreviousVersion: no memory or flash interface not ready")         \
  X(kPreviousReadFailed, 18, "readPreviousVersion: reading the blocks gave {}", U32)              \
  X(kPreviousNoneActive, 19, "readPreviousVersion: no block is active")                           \
  X(kPreviousInvalid, 20, "readPreviousVersion: block at {x} invalid, status {}", U32, U32)       \
  X(kImagePart2Outside, 23, "image MAC part 2 at {x}, {x} bytes, passes the image of {x} bytes",  \
    U32, U32, U32)                                                                                \
  X(kImagePart2TooShort, 24, "image MAC part 2 of {x} bytes is too short", U32)                   \
  X(kImageType, 25, "image device ID {x}: type {}", U16, U32)                                     \
  X(kVersionResult, 26, "version readout gave {}: {}.{}.{}", U32, U32, U32, U32)                 \
  X(kReadVersion, 27, "readFirmwareVersion: MAC part 2 at {x}, {x} bytes", U32, U32)              \
  X(kReadCurrent, 28, "readCurrentVersion")                                                       \
  X(kReadPrevious, 29, "readPreviousVersion")                                                     \
  X(kGetImageVersion, 30, "getImageVersion: image of {x} bytes", U32)                             \
  X(kGetImageType, 31, "getImageType: image of {x} bytes", U32)                                   \
  X(kPreviousChosen, 32, "readPreviousVersion: block at {x} chosen", U32)
// clang-format on
HLV_TRACE_TABLE(firmware_version, kComponentEngine, file::kEngineFurther,
                HLV_FIRMWARE_VERSION_POINTS)
#undef HLV_FIRMWARE_VERSION_POINTS
