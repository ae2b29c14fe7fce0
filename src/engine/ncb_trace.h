#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_NCB_POINTS(X)                                                                         \
  X(kCrcRangeInvalid, 0, "checkNcbCrc: size {x} gives no CRC range", U16)                         \
  X(kCrcMismatch, 1, "checkNcbCrc: computed {x}, stored {x}", U16, U16)                           \
  X(kStructureSizeInvalid, 2, "checkNcbStructure: size {x} passes the block", U16)                \
  X(kStructureAreaInvalid, 3, "checkNcbStructure: area {} at {x} length {x} outside its window",  \
    U8, U16, U16)                                                                                 \
  X(kStructureRegionInvalid, 4,                                                                   \
    "checkNcbStructure: region {} at {x} size {x} outside the flash window", U8, U32, U32)        \
  X(kValidateUnprogrammedFree, 5, "validateNcb: free-area start unprogrammed")                    \
  X(kValidateCrcFailed, 6, "validateNcb: CRC invalid")                                            \
  X(kValidateStructureFailed, 7, "validateNcb: structure invalid")                                \
  X(kValidateMagic, 8, "validateNcb: magic word set")                                             \
  X(kReadActiveFailed, 9, "readActiveNcb: reading the blocks failed with {}", U32)                \
  X(kNoActiveNcb, 10, "readActiveNcb: no block is active")                                        \
  X(kActiveNcbInvalid, 11, "readActiveNcb: active block at {x} invalid, status {}", U32, U32)     \
  X(kActiveNcbTaken, 12, "readActiveNcb: block at {x} taken", U32)                                \
  X(kImageNcbCrcFailed, 13, "findActiveImageNcb: active block {} fails its CRC, macCrc {x}", U8,  \
    U16)                                                                                          \
  X(kImageNoActiveNcb, 14, "findActiveImageNcb: no usable block")                                 \
  X(kWriteNcb, 15, "writeNcb: block at {x}, state {}, crc {x}, size {x}, first {x} bytes", U32,   \
    U8, U16, U16, U32)                                                                            \
  X(kWriteNcbSectorUnsuitable, 16, "writeNcb: sector size {x}, part size {x} refused", U32, U32)  \
  X(kWriteNcbEraseFailed, 17, "writeNcb: erase gave {}, from {x}, {x} bytes", U32, U32, U32)      \
  X(kWriteNcbBodyFailed, 18, "writeNcb: programming the body failed with {}", U32)                \
  X(kWriteNcbBodyDiffers, 19, "writeNcb: body read back differs at {x}", U32)                     \
  X(kWriteNcbHeadFailed, 20, "writeNcb: programming the first bytes failed with {}", U32)         \
  X(kWriteNcbHeadDiffers, 21, "writeNcb: first bytes read back differ")                           \
  X(kWriteNcbNoMemory, 22, "writeNcb: no memory for the read-back")                               \
  X(kWriteNcbReadBackFailed, 23, "writeNcb: read-back failed with {}", U32)                       \
  X(kWriteNcbDone, 24, "writeNcb: block at {x} written", U32)                                     \
  X(kDumpState, 25, "block at {x}: state {}, size {x}, crc {x}", U32, U8, U16, U16)               \
  X(kDumpArea, 26, "block at {x}: area {} offset {x} length {x}", U32, U8, U16, U16)              \
  X(kDumpComponent, 27, "block at {x}: component {} offset {x} size {x}", U32, U8, U32, U32)      \
  X(kDumpComponentCrcs, 28, "block at {x}: macCrc {x} phyCrc {x} romCrc {x}", U32, U16, U16, U16) \
  X(kDumpImage, 29, "block at {x}: imageTag {x} imageVersion {x}", U32, U16, U32)                 \
  X(kDumpFreeArea, 30, "block at {x}: free area {x} size {x}", U32, U32, U32)                   \
  X(kValidate, 31, "validateNcb: state {}, force {}", U8, Bool)                                   \
  X(kReadActive, 32, "readActiveNcb: reading both blocks")                                        \
  X(kImageNcbTaken, 33, "findActiveImageNcb: block {} taken", U8)                                 \
  X(kStateCleared, 34, "clearNcbStateInPlace: block at {x} was active, now deactivated", U32)     \
  X(kStateClearFailed, 35, "clearNcbStateInPlace: block at {x}: status {}", U32, U32)             \
  X(kWriteNcbInPlace, 36, "writeNcb: block at {x} rewritten in place, bytes {x}..{x}", U32, U32,  \
    U32)
// clang-format on
HLV_TRACE_TABLE(ncb, kComponentEngine, file::kEngine, HLV_NCB_POINTS)
#undef HLV_NCB_POINTS
