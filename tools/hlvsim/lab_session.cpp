#include "tools/hlvsim/lab_session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace hlv::sim::tool {
namespace {

// Plain pointers only: objects with destructors of their own would be gone before the finisher
// below runs.
Lab* gLab = nullptr;
LabPlatform* gPlatform = nullptr;
struct ProcLink {
  std::string directory;
  std::string link;
};
ProcLink* gProcLink = nullptr;
bool gFinished = false;

// Built before, and so destroyed after, every static object of default priority: the tool's
// options object (whose destruction tears the session down) among them.
struct SessionFinisher {
  ~SessionFinisher() { finishSession(); }
};
__attribute__((init_priority(101))) SessionFinisher gFinisher;

}  // namespace

Lab* openSessionLab(const std::string& root, std::string& error) {
  if (gLab == nullptr) gLab = Lab::open(root, error).release();
  return gLab;
}

LabPlatform& sessionPlatform(uid_t userId) {
  if (gPlatform == nullptr) gPlatform = new LabPlatform(*gLab, userId);
  return *gPlatform;
}

bool linkToolExecutable(std::string& error) {
  const std::string proc = gLab->root() + "/proc";
  const std::string directory = proc + "/" + std::to_string(getpid());
  if ((mkdir(proc.c_str(), 0755) != 0 && errno != EEXIST) ||
      (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST)) {
    error = directory + ": cannot create: " + std::strerror(errno);
    return false;
  }
  const std::string link = directory + "/exe";
  unlink(link.c_str());
  const std::string target = gLab->root() + "/tool/hlvflashupdate";
  if (symlink(target.c_str(), link.c_str()) != 0) {
    error = link + ": cannot link: " + std::strerror(errno);
    return false;
  }
  gProcLink = new ProcLink{directory, link};
  return true;
}

void finishSession() {
  if (gFinished) return;
  gFinished = true;
  if (gLab != nullptr) {
    std::string error;
    if (!gLab->writeStats(error)) std::fprintf(stderr, "hlvsim: %s\n", error.c_str());
  }
  if (gProcLink != nullptr) {
    unlink(gProcLink->link.c_str());
    rmdir(gProcLink->directory.c_str());
  }
}

}  // namespace hlv::sim::tool
