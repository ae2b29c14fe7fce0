#include "device/register_window.h"

#include <utility>

#include "device/register_window_trace.h"
#include "platform/platform.h"

namespace hlv {
namespace tp = trace_points::register_window;

RegisterWindowMapping::RegisterWindowMapping(int fd, void* mapping, uint64_t length,
                                             std::string devicePath)
    : fd_(fd), mapping_(mapping), length_(length), devicePath_(std::move(devicePath)) {}

RegisterWindowMapping::RegisterWindowMapping(RegisterWindowMapping&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      mapping_(std::exchange(other.mapping_, nullptr)),
      length_(std::exchange(other.length_, 0)),
      devicePath_(std::move(other.devicePath_)) {}

RegisterWindowMapping& RegisterWindowMapping::operator=(RegisterWindowMapping&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
    mapping_ = std::exchange(other.mapping_, nullptr);
    length_ = std::exchange(other.length_, 0);
    devicePath_ = std::move(other.devicePath_);
  }
  return *this;
}

void RegisterWindowMapping::reset() noexcept {
  if (mapping_ != nullptr || fd_ != -1) {
    platform::current().unmapRegisterWindow({fd_, mapping_}, length_);
    trace::emit(tp::kWindowReleased, devicePath_, length_);
  }
  fd_ = -1;
  mapping_ = nullptr;
  length_ = 0;
  devicePath_.clear();
}

}  // namespace hlv
