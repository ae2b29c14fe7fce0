// CPU time of the calling thread, and of a finished child process.
#pragma once

#include <time.h>

#include <cstdint>

namespace hlv::bench {

inline uint64_t threadCpuNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace hlv::bench
