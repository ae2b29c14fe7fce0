// The platform of a real Linux machine: the kernel's own /sys, /proc and /run, getuid,
// CLOCK_MONOTONIC, nanosleep, and mmap of the PCI resource files.
#pragma once

#include "platform/platform.h"

namespace hlv::platform {

class LinuxPlatform : public Platform {
 public:
  std::string hostPath(std::string_view absolutePath) const override;
  uid_t realUserId() const override;
  uint64_t monotonicNanoseconds() override;
  void sleepMicroseconds(uint64_t microseconds) override;
  void yieldProcessor() override;
  RegisterWindow mapRegisterWindow(const std::string& resourcePath, uint64_t length) override;
  void unmapRegisterWindow(const RegisterWindow& window, uint64_t length) override;
};

// A Linux platform whose "/sys", "/proc" and "/run" (every absolute path) live under a root
// directory (tests).
class RootedPlatform : public LinuxPlatform {
 public:
  explicit RootedPlatform(std::string root) : root_(std::move(root)) {}
  std::string hostPath(std::string_view absolutePath) const override;

 private:
  std::string root_;
};

}  // namespace hlv::platform
