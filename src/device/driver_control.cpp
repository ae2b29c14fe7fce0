#include "device/driver_control.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "device/driver_control_trace.h"
#include "device/sysfs_directory.h"
#include "platform/platform.h"

namespace hlv {
namespace {

namespace tp = trace_points::driver_control;

constexpr const char* kDriversDirectory = "/sys/bus/pci/drivers/";

bool listingContains(const std::string& directory, const std::string& name) {
  const auto names = listSysfsDirectory(directory);
  return names && std::find(names->begin(), names->end(), name) != names->end();
}

bool driverOwns(const char* driverName, const std::string& bdf) {
  return listingContains(kDriversDirectory, driverName) &&
         listingContains(kDriversDirectory + std::string(driverName), bdf);
}

// The driver's "bind" and "unbind" are files the kernel provides: opening one never creates a
// file, and a link in its place is not followed, so root's write lands nowhere else. The restart
// runs with the operator's interrupt held, but the signal itself still arrives and may break a
// call off (the handler does not restart calls): such a call is made again, so that an unbound
// driver is always bound again.
int openForWriting(const std::string& absolutePath) {
  const std::string path = platform::current().hostPath(absolutePath);
  int fd = -1;
  do {
    fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// One write of the whole address; a short write counts as failed (errno 0 then).
bool writeAddress(int fd, const std::string& bdf) {
  ssize_t written = -1;
  do {
    errno = 0;
    written = write(fd, bdf.data(), bdf.size());
  } while (written < 0 && errno == EINTR);
  return written >= 0 && static_cast<std::size_t>(written) == bdf.size();
}

}  // namespace

const char* owningDriver(const std::string& bdf) {
  const auto owner = std::find_if(std::begin(kDriverNames), std::end(kDriverNames),
                                  [&](const char* name) { return driverOwns(name, bdf); });
  return owner != std::end(kDriverNames) ? *owner : nullptr;
}

uint32_t restartDriver(const AdapterInfo& adapter) {
  trace::emit(tp::kRestartRequested, adapter.bdf, adapter.interfaceName);
  if (adapter.interfaceName == "unknown") {
    trace::emit(tp::kNoInterface, adapter.bdf);
    return kStatusDriverRestarted;
  }

  // With no owning driver the base stays the drivers directory itself, and the open of its
  // "unbind" (a path with a doubled slash) fails: the kernel offers no such file there.
  std::string base = kDriversDirectory;
  if (const char* owner = owningDriver(adapter.bdf)) {
    base += owner;
    trace::emit(tp::kDriverFound, adapter.bdf, owner);
  } else {
    trace::emit(tp::kNoDriverFound, adapter.bdf);
  }
  const std::string unbindPath = base + "/unbind";
  const std::string bindPath = base + "/bind";

  const int unbindFd = openForWriting(unbindPath);
  if (unbindFd < 0) {
    trace::emit(tp::kUnbindOpenFailed, adapter.bdf, errno);
    return kStatusDriverRestartFailed;
  }
  if (!writeAddress(unbindFd, adapter.bdf)) {
    trace::emit(tp::kUnbindWriteFailed, adapter.bdf, errno);
    close(unbindFd);
    return kStatusDriverRestartFailed;
  }
  const int bindFd = openForWriting(bindPath);
  if (bindFd < 0) {
    trace::emit(tp::kBindOpenFailed, adapter.bdf, errno);
    close(unbindFd);
    return kStatusDriverRestartFailed;
  }
  if (!writeAddress(bindFd, adapter.bdf)) {
    trace::emit(tp::kBindWriteFailed, adapter.bdf, errno);
    close(bindFd);
    close(unbindFd);
    return kStatusDriverRestartFailed;
  }
  close(bindFd);
  close(unbindFd);
  trace::emit(tp::kDriverRestarted, adapter.bdf);
  return kStatusDriverRestarted;
}

}  // namespace hlv
