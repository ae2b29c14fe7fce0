#include "app/tool_directory.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "app/tool_directory_trace.h"
#include "platform/platform.h"

namespace hlv {
namespace tp = trace_points::tool_directory;

std::optional<std::string> readLinkText(const std::string& linkPath, std::size_t bufferSize) {
  std::vector<char> buffer(bufferSize);
  const ssize_t length = readlink(linkPath.c_str(), buffer.data(), buffer.size());
  if (length < 0) {
    trace::emit(tp::kLinkUnreadable, linkPath, errno);
    return std::nullopt;
  }
  // readlink cuts a longer text to the buffer without saying so.
  if (static_cast<std::size_t>(length) >= buffer.size()) {
    trace::emit(tp::kLinkTooLong, linkPath, static_cast<uint64_t>(buffer.size()));
    return std::nullopt;
  }
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

std::string findToolDirectory() {
  char procPath[32];
  std::snprintf(procPath, sizeof procPath, "/proc/%d/exe", static_cast<int>(getpid()));
  const std::optional<std::string> executable =
      readLinkText(platform::current().hostPath(procPath), PATH_MAX);
  if (!executable) return {};

  const std::size_t slash = executable->rfind('/');
  if (slash == std::string::npos) {
    trace::emit(tp::kNoSeparator, *executable);
    std::puts("Couldn't convert file path ");
    return {};
  }
  std::string directory = executable->substr(0, slash + 1);
  trace::emit(tp::kToolDirectoryFound, directory);
  return directory;
}

}  // namespace hlv
