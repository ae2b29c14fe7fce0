// The mapped register window of one PCI function together with the descriptor it was mapped
// through: held while the window is in use and given back exactly once.
#pragma once

#include <cstdint>
#include <string>

namespace hlv {

// Owns a window the platform mapped (its descriptor may be -1 where the platform keeps none).
// Destroying, resetting or moving another window in releases what is held: the window is
// unmapped with the length it was mapped with, then the descriptor is closed, and the release is
// traced with the function's sysfs directory. Moving hands the window over; it cannot be copied,
// so nothing is released twice.
class RegisterWindowMapping {
 public:
  RegisterWindowMapping() = default;
  // Takes over what mapping `length` bytes of the function at devicePath gave.
  RegisterWindowMapping(int fd, void* mapping, uint64_t length, std::string devicePath);
  ~RegisterWindowMapping() { reset(); }
  RegisterWindowMapping(RegisterWindowMapping&& other) noexcept;
  RegisterWindowMapping& operator=(RegisterWindowMapping&& other) noexcept;
  RegisterWindowMapping(const RegisterWindowMapping&) = delete;
  RegisterWindowMapping& operator=(const RegisterWindowMapping&) = delete;

  int fd() const { return fd_; }               // -1 while none is open
  void* mapping() const { return mapping_; }   // null while none is mapped
  uint64_t length() const { return length_; }  // 0 while nothing is held

  // Releases what is held, if anything; safe to call more than once.
  void reset() noexcept;

 private:
  int fd_ = -1;
  void* mapping_ = nullptr;
  uint64_t length_ = 0;
  std::string devicePath_;
};

}  // namespace hlv
