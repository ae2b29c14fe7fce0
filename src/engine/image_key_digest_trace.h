#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_IMAGE_KEY_DIGEST_POINTS(X)                                                            \
  X(kStart, 220, "getImageKeyDigest: image of {x} bytes", U64)                                    \
  X(kNoKeyBlock, 223, "getImageKeyDigest: MAC part 2 at {x} size {x} holds no key block", U32,     \
    U32)                                                                                          \
  X(kKeyEmpty, 224, "getImageKeyDigest: the key block is all zero")                               \
  X(kDigestFailed, 225, "getImageKeyDigest: the digest could not be computed")                    \
  X(kDigest, 226, "getImageKeyDigest: digest begins {x}", U64)
// clang-format on
HLV_TRACE_TABLE(image_key_digest, kComponentEngine, file::kEngineFurther,
                HLV_IMAGE_KEY_DIGEST_POINTS)
#undef HLV_IMAGE_KEY_DIGEST_POINTS
