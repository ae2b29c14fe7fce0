#include "trace/log_directory.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "trace/log_directory_trace.h"

namespace hlv::trace {
namespace tp = trace_points::log_directory;

std::string makeLogDirectory(const std::string& baseDirectory) {
  std::string path = baseDirectory + "logs/";
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    emit(tp::kLogsDirectoryFailed, errno);
    return {};
  }

  char stamp[24] = {};
  const time_t now = time(nullptr);
  struct tm local {};
  if (localtime_r(&now, &local) != nullptr)
    strftime(stamp, sizeof stamp, "%Y%m%d_%H-%M-%S/", &local);
  path += stamp;

  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    emit(tp::kRunDirectoryFailed, errno);
    return {};
  }
  return path;
}

}  // namespace hlv::trace
