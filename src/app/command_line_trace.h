#pragma once

#include "trace/trace_point.h"

#define HLV_COMMAND_LINE_POINTS(X)                                              \
  X(kParseStarted, 20, "parsing {} command line arguments", I32)                \
  X(kNotAnOption, 21, "argument {} does not start with an option prefix", Text) \
  X(kBarePrefix, 22, "argument {} has no option letter", Text)                  \
  X(kLongOption, 23, "argument {} is longer than one option letter", Text)      \
  X(kHelpRequested, 24, "help requested; later arguments are not looked at")    \
  X(kAdapterNameGiven, 25, "adapter name {} given", Text)                       \
  X(kAdapterNameMissing, 26, "-a is the last argument")                         \
  X(kRollbackRequested, 27, "rollback requested")                               \
  X(kSilentRequested, 28, "silent mode requested")                              \
  X(kUnknownOption, 29, "unknown option {}", Text)                              \
  X(kRollbackWithSilent, 30, "rollback cannot be combined with silent mode")    \
  X(kParsed, 31, "options: silent {}, rollback {}, adapter name {}", Bool, Bool, Text)
HLV_TRACE_TABLE(command_line, kComponentApp, file::kProgramEntry, HLV_COMMAND_LINE_POINTS)
#undef HLV_COMMAND_LINE_POINTS
