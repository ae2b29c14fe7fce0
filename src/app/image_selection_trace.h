#pragma once

#include "trace/trace_point.h"

#define HLV_IMAGE_SELECTION_POINTS(X)                                                             \
  X(kAlreadySettled, 0, "entry {} already settled with status {}", U32, U32)                      \
  X(kNoBoardEntry, byPosition(1),                                                                 \
    "entry {}: no board entry for vid {x} did {x} sdid {x} svid {x}", U32, U16,                   \
    U16, U16, U16)                                                                                \
  X(kBoardEntryChosen, byPosition(2), "entry {}: board entry {}", U32, Text)                      \
  X(kNoImage, byPosition(3), "entry {}: image {} not available", U32, Text)
HLV_TRACE_TABLE(image_selection, kComponentApp, file::kProcedures, HLV_IMAGE_SELECTION_POINTS)
#undef HLV_IMAGE_SELECTION_POINTS
