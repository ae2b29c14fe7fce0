#include "platform/platform.h"

#include "platform/linux_platform.h"

namespace hlv::platform {
namespace {

struct Platforms {
  LinuxPlatform linuxPlatform;
  std::unique_ptr<Platform> installed;
  Platform* inUse = &linuxPlatform;
};

// Built on first use and destroyed at exit, after every object whose building completed after
// it (see install).
Platforms& platforms() {
  static Platforms instance;
  return instance;
}

}  // namespace

Platform& current() {
  return *platforms().inUse;
}

void install(std::unique_ptr<Platform> platform) {
  Platforms& all = platforms();
  all.installed = std::move(platform);
  all.inUse = all.installed != nullptr ? all.installed.get() : &all.linuxPlatform;
}

ScopedPlatform::ScopedPlatform(Platform& platform) : previous_(&current()) {
  platforms().inUse = &platform;
}

ScopedPlatform::~ScopedPlatform() {
  platforms().inUse = previous_;
}

}  // namespace hlv::platform
