// The run's log directory: <tool directory>/logs/<YYYYmmdd_HH-MM-SS>/, or, when an earlier run
// took that name, <YYYYmmdd_HH-MM-SS>_2/, _3/, ... It holds the run's trace and its backups.
#pragma once

#include <ctime>
#include <string>

#include "platform/directory.h"

namespace hlv::trace {

// The run's directory, held open together with "logs/" and the tool directory above it: every
// file of the run is made through its descriptor, and what leads to those files can be flushed.
class LogDirectory {
 public:
  LogDirectory() = default;

  bool isOpen() const { return run_.isOpen(); }
  // The run's directory; every file of the run is created in it.
  const platform::Directory& run() const { return run_; }
  // Its path, ending in "/"; empty when there is none.
  const std::string& path() const { return run_.path(); }
  // Its name in "logs/".
  const std::string& runName() const { return runName_; }
  // "logs/", whose run directories hold what earlier runs left.
  const platform::Directory& logs() const { return logs_; }

  // Flushes the directories that lead to the run's files, so that a file flushed itself is
  // still found after a power cut: the run's directory, "logs/", and the tool directory when this
  // run made "logs/". false with errno set.
  bool syncEntries() const;

 private:
  friend LogDirectory makeLogDirectory(const std::string& baseDirectory, const std::string& runName,
                                       platform::FileProblem& problem);
  platform::Directory tool_;
  platform::Directory logs_;
  platform::Directory run_;
  std::string runName_;
  bool logsMade_ = false;
};

// "YYYYmmdd_HH-MM-SS" of that time, local time.
std::string runDirectoryName(std::time_t when);

// Opens the base directory (the tool's, ending in "/"), makes "logs/" in it or uses the one there
// when it is safe (a directory, not a link, owned by the effective user, writable by nobody
// else), and makes the run's directory in it: runName, or the first free of runName_2,
// runName_3, ... An existing run directory is never used. Directories are made with mode 0700.
// On failure the result is not open and `problem` says which path and why.
LogDirectory makeLogDirectory(const std::string& baseDirectory, const std::string& runName,
                              platform::FileProblem& problem);
// The same, named for the current time.
LogDirectory makeLogDirectory(const std::string& baseDirectory, platform::FileProblem& problem);

}  // namespace hlv::trace
