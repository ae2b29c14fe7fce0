#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_VO_IMAGE_FILE_POINTS(X)                                                          \
  X(kReading, 0, "image file {}: reading", Text)                                             \
  X(kOpenFailed, 1, "image file cannot be opened")                                           \
  X(kEmpty, 2, "image file is empty: {} bytes", U32)                                         \
  X(kNoMemory, 3, "image file: no memory for its bytes")                                     \
  X(kReadFailed, 4, "image file could not be read")                                          \
  X(kRead, 5, "image file read: {} bytes", U32)                                              \
  X(kNotRegularFile, 11, "image file is not a regular file")                                 \
  X(kTooLong, 12, "image file of {} bytes is longer than the largest flash ({} bytes)", U64, \
    U32)
// clang-format on
HLV_TRACE_TABLE(vo_image_file, kComponentApp, file::kImageFile, HLV_VO_IMAGE_FILE_POINTS)
#undef HLV_VO_IMAGE_FILE_POINTS
