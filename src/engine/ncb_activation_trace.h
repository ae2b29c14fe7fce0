#pragma once

#include "trace/trace_point.h"

// clang-format off
#define HLV_NCB_ACTIVATION_POINTS(X)                                                               \
  X(kErase, 240, "eraseNcbStart: block at {x}, first {x} bytes", U32, U32)                        \
  X(kEraseRefused, 241, "eraseNcbStart: sector size {x} does not divide a block", U32)            \
  X(kEraseFailed, 242, "eraseNcbStart: block at {x}: status {}, {x} bytes erased", U32, U32, U32) \
  X(kWriteFailed, 243, "writeActivatingNcb: block at {x} failed with {}, erasing it", U32, U32)   \
  X(kLeftUncleared, 244, "writeActivatingNcb: block at {x} could not be erased again", U32)
// clang-format on
HLV_TRACE_TABLE(ncb_activation, kComponentEngine, file::kEngine, HLV_NCB_ACTIVATION_POINTS)
#undef HLV_NCB_ACTIVATION_POINTS
