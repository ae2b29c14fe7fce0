#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_IMAGE_STORE_POINTS(X)                                                          \
  X(kCacheHit, byPosition(6), "image {} already loaded", Text)                             \
  X(kCacheMiss, byPosition(7), "image {} not loaded yet", Text)                            \
  X(kImageLoaded, byPosition(8), "image {} loaded: version {}.{}.{}, type {}", Text, U32,  \
    U32, U32, U32)                                                                         \
  X(kImageNotRead, byPosition(9), "image file {} could not be read", Text)                 \
  X(kImageRejected, byPosition(10), "image {} rejected by the image check: {}", Text, U32) \
  X(kImageNameRefused, byPosition(13), "image name {} refused: {}", Text, Text)
// clang-format on
HLV_TRACE_TABLE(image_store, kComponentApp, file::kImageFile, HLV_IMAGE_STORE_POINTS)
#undef HLV_IMAGE_STORE_POINTS
