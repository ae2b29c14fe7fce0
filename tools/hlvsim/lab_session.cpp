#include "tools/hlvsim/lab_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace hlv::sim::tool {

Result<LabSession*> LabSession::open(const std::string& root, uid_t userId) {
  Result<std::unique_ptr<Lab>> lab = Lab::open(root);
  if (!lab) return fail(lab.error());
  std::unique_ptr<LabSession> session(new LabSession(std::move(*lab), userId));
  LabSession* const opened = session.get();
  platform::install(std::move(session));
  return opened;
}

LabSession::LabSession(std::unique_ptr<Lab> lab, uid_t userId)
    : LabPlatform(*lab, userId), lab_(std::move(lab)) {}

LabSession::~LabSession() {
  if (const Result<> written = lab_->writeStats(); !written) {
    std::fprintf(stderr, "hlvsim: %s\n", written.error().c_str());
  }
  if (!procDirectory_.empty()) {
    unlink((procDirectory_ + "/exe").c_str());
    rmdir(procDirectory_.c_str());
  }
}

Result<> LabSession::linkToolExecutable() {
  const std::string proc = lab_->root() + "/proc";
  const std::string directory = proc + "/" + std::to_string(getpid());
  if ((mkdir(proc.c_str(), 0755) != 0 && errno != EEXIST) ||
      (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST)) {
    return fail(directory + ": cannot create: " + std::strerror(errno));
  }
  const std::string link = directory + "/exe";
  unlink(link.c_str());
  const std::string target = lab_->root() + "/tool/hlvflashupdate";
  if (symlink(target.c_str(), link.c_str()) != 0) {
    return fail(link + ": cannot link: " + std::strerror(errno));
  }
  procDirectory_ = directory;
  return {};
}

}  // namespace hlv::sim::tool
