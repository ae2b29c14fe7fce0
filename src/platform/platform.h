// The platform seam: everything the program reaches outside its own memory that tests and the
// emulated adapters must replace. Files, the System V semaphore and signals stay ordinary calls.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace hlv {

class VoRegControlInterface;

namespace platform {

// What mapping region 0 of a PCI function gives: the open descriptor and the mapped window.
struct RegisterWindow {
  int fd = -1;
  void* mapping = nullptr;
  int error = 0;  // on failure, the errno of the open or the mapping the kernel refused
};

class Platform {
 public:
  virtual ~Platform() = default;

  // Resolves an absolute "/sys/...", "/proc/..." or "/run/..." path to the file this platform
  // reads or writes.
  virtual std::string hostPath(std::string_view absolutePath) const = 0;

  // Real user ID of the process (getuid).
  virtual uid_t realUserId() const = 0;

  // Monotonic clock in nanoseconds.
  virtual uint64_t monotonicNanoseconds() = 0;
  uint64_t monotonicMilliseconds() { return monotonicNanoseconds() / 1000000; }

  // Sleeps, or lets virtual time pass, for the given time.
  virtual void sleepMicroseconds(uint64_t microseconds) = 0;
  void sleepMilliseconds(uint64_t milliseconds) { sleepMicroseconds(milliseconds * 1000); }

  // Gives the processor to other work for a moment (used in busy polls).
  virtual void yieldProcessor() = 0;

  // Opens the resource file read-write and close-on-exec and maps `length` bytes of it shared.
  // On failure fd is -1, mapping null and error says why; a descriptor is never left open on
  // failure.
  virtual RegisterWindow mapRegisterWindow(const std::string& resourcePath, uint64_t length) = 0;
  virtual void unmapRegisterWindow(const RegisterWindow& window, uint64_t length) = 0;

  // A window this platform emulates instead of mapping memory: the register model behind the
  // mapping it returned, or null when the mapping is plain device memory.
  virtual VoRegControlInterface* emulatedRegisters(const void* mapping) {
    (void)mapping;
    return nullptr;
  }
};

// The platform in use; the Linux platform unless another one was installed.
Platform& current();

// Installs a platform for the rest of the process and keeps it until the process ends; null
// restores the Linux platform. The platforms are kept by an object built the first time the
// current platform is asked for, which the program's options do while they are built: so an
// installed platform is destroyed among the exit-time destructors only after the options, whose
// teardown of the session still releases the adapters' register windows through it.
void install(std::unique_ptr<Platform> platform);

// Uses a platform for one scope (tests); the caller keeps it.
class ScopedPlatform {
 public:
  explicit ScopedPlatform(Platform& platform);
  ~ScopedPlatform();
  ScopedPlatform(const ScopedPlatform&) = delete;
  ScopedPlatform& operator=(const ScopedPlatform&) = delete;

 private:
  Platform* previous_;
};

}  // namespace platform
}  // namespace hlv
