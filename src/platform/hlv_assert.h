// Assertions guard programming errors only, never data from outside the program. They stay
// active in every build and print the condition as written before the process aborts.
#pragma once

namespace hlv {
[[noreturn]] void assertionFailed(const char* text, const char* file, int line);
}  // namespace hlv

#define HLV_ASSERT(condition)                                                 \
  do {                                                                        \
    if (!(condition)) ::hlv::assertionFailed(#condition, __FILE__, __LINE__); \
  } while (false)
