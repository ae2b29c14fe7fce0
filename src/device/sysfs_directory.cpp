#include "device/sysfs_directory.h"

#include <dirent.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace hlv {
namespace {

int notDotOrDotDot(const struct dirent* entry) {
  return std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0;
}

// Frees what scandir allocated, on every path out of the listing.
class ScandirEntries {
 public:
  ScandirEntries(struct dirent** entries, int count) : entries_(entries), count_(count) {}
  ~ScandirEntries() {
    for (int i = 0; i < count_; ++i)
      std::free(entries_[i]);
    std::free(entries_);
  }
  ScandirEntries(const ScandirEntries&) = delete;
  ScandirEntries& operator=(const ScandirEntries&) = delete;

 private:
  struct dirent** entries_;
  int count_;
};

}  // namespace

std::optional<std::vector<std::string>> listSysfsDirectory(std::string_view absolutePath) {
  const std::string resolved = platform::current().hostPath(absolutePath);
  struct dirent** entries = nullptr;
  const int count = scandir(resolved.c_str(), &entries, notDotOrDotDot, alphasort);
  if (count < 0) return std::nullopt;
  const ScandirEntries owner(entries, count);

  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    names.emplace_back(entries[i]->d_name);
  return names;
}

}  // namespace hlv
