#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_UPDATE_IMAGE_POINTS(X)                                                                 \
  X(kImageTooSmall, 206, "update image of {x} bytes is smaller than the flash layout", U64)       \
  X(kImageNoActiveNcb, 207, "update image has no usable active block")
// clang-format on
HLV_TRACE_TABLE(update_image, kComponentEngine, file::kEngine, HLV_UPDATE_IMAGE_POINTS)
#undef HLV_UPDATE_IMAGE_POINTS
