#include "sim/lab_platform.h"

#include <cerrno>

namespace hlv::sim {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

LabPlatform::LabPlatform(Lab& lab, uid_t userId) : lab_(lab), userId_(userId) {}

std::string LabPlatform::hostPath(std::string_view absolutePath) const {
  for (const std::string_view top : {"/sys", "/proc", "/run"}) {
    if (absolutePath == top ||
        (startsWith(absolutePath, top) && absolutePath.size() > top.size() &&
         absolutePath[top.size()] == '/')) {
      return lab_.root() + std::string(absolutePath);
    }
  }
  return std::string(absolutePath);
}

uint64_t LabPlatform::monotonicNanoseconds() {
  lab_.clock().advance(kClockReadNs);
  return lab_.clock().now();
}

void LabPlatform::sleepMicroseconds(uint64_t microseconds) {
  lab_.clock().advance(microseconds * 1000);
}

void LabPlatform::yieldProcessor() {
  lab_.clock().advance(kYieldNs);
}

platform::RegisterWindow LabPlatform::mapRegisterWindow(const std::string& resourcePath,
                                                        uint64_t /*length*/) {
  platform::RegisterWindow window;
  const std::string prefix = lab_.root() + "/sys/bus/pci/devices/";
  const std::string_view suffix = "/resource0";
  std::string_view path = resourcePath;
  if (!startsWith(path, prefix) || path.size() <= prefix.size() + suffix.size() ||
      path.substr(path.size() - suffix.size()) != suffix) {
    return window;
  }
  const std::string_view bdf =
      path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  if (bdf.find('/') != std::string_view::npos) return window;
  LabAdapter* entry = lab_.adapter(bdf);
  // A function the lab carries no adapter for has no resource file to open.
  if (entry == nullptr) {
    window.error = ENOENT;
    return window;
  }
  if (entry->config.mappingRefusal != 0) {
    window.error = entry->config.mappingRefusal;
    return window;
  }
  // The adapter's address serves as the token: unique, and never memory anyone reads.
  window.mapping = entry->adapter.get();
  LiveWindow& live =
      live_.try_emplace(window.mapping, LiveWindow{entry->adapter.get(), 0}).first->second;
  ++live.mappings;
  return window;
}

void LabPlatform::unmapRegisterWindow(const platform::RegisterWindow& window, uint64_t /*length*/) {
  const auto it = live_.find(window.mapping);
  if (it == live_.end()) return;
  if (--it->second.mappings == 0) live_.erase(it);
}

VoRegControlInterface* LabPlatform::emulatedRegisters(const void* mapping) {
  const auto it = live_.find(mapping);
  return it == live_.end() ? nullptr : it->second.adapter;
}

int LabPlatform::liveMappings() const {
  int count = 0;
  for (const auto& [token, live] : live_)
    count += live.mappings;
  return count;
}

}  // namespace hlv::sim
