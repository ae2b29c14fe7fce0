#pragma once

#include "trace/trace_point.h"

#define HLV_TOOL_DIRECTORY_POINTS(X)                                         \
  X(kLinkUnreadable, 40, "link {} cannot be read: errno {}", Text, I32)      \
  X(kLinkTooLong, 41, "link {} fills the {} byte buffer", Text, U64)         \
  X(kNoSeparator, 42, "executable path {} has no directory separator", Text) \
  X(kToolDirectoryFound, 43, "tool directory {}", Text)
HLV_TRACE_TABLE(tool_directory, kComponentApp, file::kProgramEntry, HLV_TOOL_DIRECTORY_POINTS)
#undef HLV_TOOL_DIRECTORY_POINTS
