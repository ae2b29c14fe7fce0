// A limit on the size of the files the process writes, as a full disk would set it.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <optional>

namespace hlv::test {

// Files grow no further than the limit while it is set; a write past it fails (EFBIG) instead of
// ending the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(std::optional<rlim_t> limit) : active_(limit.has_value()) {
    if (!active_) return;
    previousSignal_ = signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit reduced = previous_;
    reduced.rlim_cur = *limit;
    setrlimit(RLIMIT_FSIZE, &reduced);
  }
  ~FileSizeLimit() {
    if (!active_) return;
    setrlimit(RLIMIT_FSIZE, &previous_);
    signal(SIGXFSZ, previousSignal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  bool active_;
  rlimit previous_{};
  sighandler_t previousSignal_ = SIG_DFL;
};

}  // namespace hlv::test
