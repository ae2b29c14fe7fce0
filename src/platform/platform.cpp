#include "platform/platform.h"

#include "platform/linux_platform.h"

namespace hlv::platform {
namespace {

Platform* gInstalled = nullptr;

// Never destroyed: exit-time destructors (the session's teardown) may still need it.
Platform& linuxPlatform() {
  static LinuxPlatform* const instance = new LinuxPlatform;
  return *instance;
}

}  // namespace

Platform& current() {
  return gInstalled != nullptr ? *gInstalled : linuxPlatform();
}

void install(Platform* platform) {
  gInstalled = platform;
}

ScopedPlatform::ScopedPlatform(Platform& platform) : previous_(gInstalled) {
  install(&platform);
}

ScopedPlatform::~ScopedPlatform() {
  install(previous_);
}

}  // namespace hlv::platform
