#include "platform/hlv_assert.h"

#include <cstdio>
#include <cstdlib>

namespace hlv {

void assertionFailed(const char* text, const char* file, int line) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s:%d: assertion failed: %s\n", file, line, text);
  std::abort();
}

}  // namespace hlv
