#pragma once

#include "trace/trace_point.h"

#define HLV_CONSOLE_POINTS(X)                                     \
  X(kOperatorText, 0, "operator typed {}", Text)                  \
  X(kInputEnded, 1, "standard input ended (read error {})", Bool) \
  X(kEmptyAnswer, 2, "empty answer, asking again")                \
  X(kAnswerRead, 3, "answer of {} bytes read", U64)               \
  X(kPressAnyKey, 4, "closing line, silent {}", Bool)
HLV_TRACE_TABLE(console, kComponentApp, file::kConsole, HLV_CONSOLE_POINTS)
#undef HLV_CONSOLE_POINTS
