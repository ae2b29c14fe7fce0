#include "trace/log_directory.h"

#include <cerrno>
#include <string>

#include "trace/log_directory_trace.h"

namespace hlv::trace {
namespace tp = trace_points::log_directory;
namespace {

constexpr const char* kLogsName = "logs";
// Names a run tries for its directory: the time's own, then "_2" up to this number. Runs that
// start in the same second are few; a directory crowded beyond this is not a run's to fill.
constexpr unsigned kMaximumRunNameAttempts = 100;

std::string attemptName(const std::string& runName, unsigned attempt) {
  return attempt == 1 ? runName : runName + "_" + std::to_string(attempt);
}

}  // namespace

bool LogDirectory::syncEntries() const {
  if (!run_.sync() || !logs_.sync()) return false;
  return !logsMade_ || tool_.sync();
}

std::string runDirectoryName(std::time_t when) {
  char stamp[24] = {};
  struct tm local {};
  if (localtime_r(&when, &local) != nullptr)
    std::strftime(stamp, sizeof stamp, "%Y%m%d_%H-%M-%S", &local);
  return stamp;
}

LogDirectory makeLogDirectory(const std::string& baseDirectory, const std::string& runName,
                              platform::FileProblem& problem) {
  LogDirectory made;
  // The tool directory is the operator's: it is used as it is named. Everything below it is
  // reached through its descriptor, never by its name again.
  made.tool_ = platform::Directory::openAsNamed(baseDirectory, problem);
  if (!made.tool_.isOpen()) {
    emit(tp::kToolDirectoryUnopened, problem.path, problem.error);
    emit(tp::kLogsDirectoryFailed, problem.error);
    return {};
  }
  made.logs_ = made.tool_.openOrMakePrivate(kLogsName, problem, &made.logsMade_);
  if (!made.logs_.isOpen()) {
    emit(tp::kDirectoryRefused, problem.path, problem.reason);
    emit(tp::kLogsDirectoryFailed, problem.error);
    return {};
  }
  // The run's directory is always new: a directory found under the run's name may be another
  // run's, or anyone's.
  for (unsigned attempt = 1; attempt <= kMaximumRunNameAttempts; ++attempt) {
    const std::string name = attemptName(runName, attempt);
    made.run_ = made.logs_.makePrivate(name, problem);
    if (made.run_.isOpen()) {
      made.runName_ = name;
      emit(tp::kRunDirectoryMade, made.run_.path(), made.logsMade_);
      return made;
    }
    if (problem.error != EEXIST) break;
    emit(tp::kRunNameTaken, name);
  }
  if (problem.error == EEXIST) {
    problem.path = made.logs_.path() + runName + "/";
    problem.reason = "exists already, and so do its numbered variants up to _" +
                     std::to_string(kMaximumRunNameAttempts);
  }
  emit(tp::kDirectoryRefused, problem.path, problem.reason);
  emit(tp::kRunDirectoryFailed, problem.error);
  return {};
}

LogDirectory makeLogDirectory(const std::string& baseDirectory, platform::FileProblem& problem) {
  return makeLogDirectory(baseDirectory, runDirectoryName(std::time(nullptr)), problem);
}

}  // namespace hlv::trace
