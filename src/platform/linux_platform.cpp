#include "platform/linux_platform.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/interrupt_hold.h"

namespace hlv::platform {

std::string LinuxPlatform::hostPath(std::string_view absolutePath) const {
  return std::string(absolutePath);
}

uid_t LinuxPlatform::realUserId() const {
  return getuid();
}

uint64_t LinuxPlatform::monotonicNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000000000ull + static_cast<uint64_t>(now.tv_nsec);
}

void LinuxPlatform::sleepMicroseconds(uint64_t microseconds) {
  // The whole time passes even when a signal breaks the sleep off: a settle time or a reset
  // pulse must not be cut short by an interrupt that is held meanwhile. A sleep is a checkpoint
  // for the operator's interrupt, before it starts and each time one breaks it off.
  interruptCheckpoint();
  timespec remaining{static_cast<time_t>(microseconds / 1000000),
                     static_cast<long>(microseconds % 1000000 * 1000)};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR)
    interruptCheckpoint();
}

void LinuxPlatform::yieldProcessor() {
  sched_yield();
}

RegisterWindow LinuxPlatform::mapRegisterWindow(const std::string& resourcePath, uint64_t length) {
  RegisterWindow window;
  // The kernel's resource file is a file of its own: never created, never reached through a link
  // in its place.
  window.fd = open(resourcePath.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (window.fd < 0) {
    window.error = errno;
    window.fd = -1;
    return window;
  }
  // A kernel in lockdown opens the file but refuses the mapping (EPERM).
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, window.fd, 0);
  if (mapping == MAP_FAILED) {
    window.error = errno;
    close(window.fd);
    window.fd = -1;
    return window;
  }
  window.mapping = mapping;
  return window;
}

void LinuxPlatform::unmapRegisterWindow(const RegisterWindow& window, uint64_t length) {
  if (window.mapping != nullptr) munmap(window.mapping, length);
  if (window.fd != -1) close(window.fd);
}

std::string RootedPlatform::hostPath(std::string_view absolutePath) const {
  return root_ + std::string(absolutePath);
}

}  // namespace hlv::platform
