#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_UPDATE_DATA_POINTS(X)                                                                  \
  X(kCheckBlobs, 200, "checkConfigBlobs: blob D {x} bytes, blob E {x} bytes, areas owned {}",     \
    U64, U64, Bool)                                                                               \
  X(kBlobTooLong, 201, "checkConfigBlobs: blob D {x} or blob E {x} bytes do not fit an area",     \
    U64, U64)                                                                                     \
  X(kBlobWithoutTerminator, 202,                                                                  \
    "checkConfigBlobs: blob D {x} or blob E {x} bytes too short for their terminator", U64, U64)  \
  X(kAreasAsGiven, 203, "buildConfigAreas: areas as given, D {x} bytes, E {x} bytes", U16, U16)   \
  X(kAreasNoMemory, 204, "buildConfigAreas: no memory for blob D {x} and blob E {x}", U32, U32)   \
  X(kAreasBuilt, 205, "buildConfigAreas: D {x} bytes, E {x} bytes, flags D {} E {}", U16, U16,    \
    Bool, Bool)                                                                                   \
  X(kComponentOutsideImage, 208, "update image component {} at {x} size {x} outside the image",   \
    U8, U32, U32)                                                                                 \
  X(kComponents, 209, "parseUpdateData: sizes MAC {x} {x}, PHY {x} {x}, ROM {x}", U32, U32, U32,  \
    U32, U32)                                                                                     \
  X(kIdentity, 210, "parseUpdateData: tag {x}, version {x}, CRCs MAC {x} PHY {x} ROM {x}", U32,   \
    U32, U16, U16, U16)                                                                           \
  X(kAreasFailed, 211, "parseUpdateData: configuration areas could not be built")                 \
  X(kImageNcbStructure, 212, "checkImageComponents: the image's block has a bad structure")       \
  X(kImageCrcMismatch, 213, "checkImageComponents: component {} computed CRC {x}, recorded {x}",  \
    U8, U16, U16)                                                                                 \
  X(kImageTooLargeForBank, 214, "checkImageComponents: components need {x} bytes, a bank has {x}",\
    U32, U32)                                                                                     \
  X(kImageComponentsGood, 215, "checkImageComponents: components good, {x} bytes in a bank", U32)
// clang-format on
HLV_TRACE_TABLE(update_data, kComponentEngine, file::kEngine, HLV_UPDATE_DATA_POINTS)
#undef HLV_UPDATE_DATA_POINTS
