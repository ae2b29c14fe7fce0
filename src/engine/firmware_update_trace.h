#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_FIRMWARE_UPDATE_POINTS(X)                                                              \
  X(kStart, 380, "updateFirmware: vendor {x} device {x} subsystem vendor {x} device {x}", U16,    \
    U16, U16, U16)                                                                                \
  X(kBlobs, 381, "updateFirmware: blob D {x} bytes, blob E {x} bytes, image {x} bytes", U64, U64, \
    U64)                                                                                          \
  X(kImageTooSmall, 382, "updateFirmware: image of {x} bytes is smaller than the layout", U64)    \
  X(kImageNcbsInvalid, 383, "updateFirmware: both image blocks invalid ({} and {})", U32, U32)    \
  X(kInitFailed, 384, "updateFirmware: the flash interface is not ready")                         \
  X(kNoMemory, 385, "updateFirmware: no memory for the blocks")                                   \
  X(kNoActiveNcb, 386, "updateFirmware: no valid active block on the flash")                      \
  X(kImageVersionFailed, 387, "updateFirmware: image version unreadable, {}", U32)                \
  X(kCurrentVersionFailed, 388, "updateFirmware: current version unreadable, {}", U32)            \
  X(kVersions, 389, "updateFirmware: image {}.{}.{}, current {}.{}.{}", U32, U32, U32, U32, U32,  \
    U32)                                                                                          \
  X(kLegacyFlagsUndecided, 390, "updateFirmware: legacy flags undecidable")                       \
  X(kBlobsRefused, 391, "updateFirmware: configuration blobs refused, {}", U32)                   \
  X(kImageComponentsRefused, 392, "updateFirmware: image components refused, {}", U32)            \
  X(kImageNotParsed, 393, "updateFirmware: image not parsable")                                   \
  X(kFlashNcbs, 394,                                                                              \
    "updateFirmware: NCB0 state {} free {x} size {x}, NCB1 state {} free {x} size {x}", U8, U32,  \
    U32, U8, U32, U32)                                                                            \
  X(kPartUnsuitable, 395, "updateFirmware: part with sector {x} and size {x} cannot hold the layout",\
    U32, U32)                                                                                     \
  X(kTransforming, byPosition(396), "updateFirmware: type-1 layout, transforming first")          \
  X(kResult, 397, "updateFirmware: status {}", U32)                                               \
  X(kLayoutOverlap, 398, "checkType2Layout: regions of block {} overlap", U8)                     \
  X(kLayoutOutsideOwnBank, 399, "checkType2Layout: block {} has components outside its bank", U8)\
  X(kNewNcbWouldNotFit, 401, "updateFirmware: the areas of active block {} do not fit a new block",\
    U32)
// clang-format on
HLV_TRACE_TABLE(firmware_update, kComponentEngine, file::kEngine, HLV_FIRMWARE_UPDATE_POINTS)
#undef HLV_FIRMWARE_UPDATE_POINTS
