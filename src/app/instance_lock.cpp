#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "app/instance_lock_trace.h"
#include "platform/platform.h"

namespace hlv {
namespace tp = trace_points::instance_lock;

namespace {

// How many times a name found changing under the lock (removed, replaced, a foreign file or
// marker put back) is looked at again before the lock gives up.
constexpr int kLockAttempts = 8;
constexpr int kMarkerAttempts = 4;

constexpr mode_t kLockFileMode = 0600;
constexpr mode_t kLockDirectoryMode = 0755;

// Keeps a trace record for writeHistory: the lock is taken before the trace file is open.
template <class... Args, class... Values>
void note(InstanceLock& lock, const trace::Point<Args...>& point, Values... values) {
  lock.history.emplace_back([point, values...] { trace::emit(point, values...); });
}

// ---- The machine-wide lock ----

enum class MachineLock { kTaken, kHeldElsewhere, kFailed };

bool sameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The lock directory, made where the machine has none (a lab); never followed when it is a link.
int openLockDirectory(InstanceLock& lock, const std::string& path) {
  const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  const int fd = open(path.c_str(), flags);
  if (fd >= 0 || errno != ENOENT) return fd;
  const std::size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash != 0)
    mkdir(path.substr(0, slash).c_str(), kLockDirectoryMode);  // "/run" may be missing too
  if (mkdir(path.c_str(), kLockDirectoryMode) == 0) note(lock, tp::kLockDirectoryMade, path);
  return open(path.c_str(), flags);
}

// Why a file found under the lock's name is not this tool's lock, or empty when it is one: a
// regular file with one name, owned by the user the tool runs as, of mode 0600. /run/lock may be
// written by anyone (its sticky bit only keeps users from removing each other's files), so
// whatever else lies there was put there by someone else.
std::string foreignLockDetail(const struct stat& found) {
  char detail[64];
  if (S_ISLNK(found.st_mode)) return "a symbolic link";
  if (!S_ISREG(found.st_mode)) return "not a regular file";
  if (found.st_uid != geteuid()) {
    std::snprintf(detail, sizeof detail, "owned by user %u", static_cast<unsigned>(found.st_uid));
    return detail;
  }
  if ((found.st_mode & 07777) != kLockFileMode) {
    std::snprintf(detail, sizeof detail, "of mode %04o",
                  static_cast<unsigned>(found.st_mode & 07777));
    return detail;
  }
  if (found.st_nlink != 1) return "a file with other names";
  return {};
}

// Clears the lock's name of what was found there. A directory with something in it is not
// emptied (its contents are someone else's, and may lead anywhere): it is moved aside under a new
// name, which `aside` receives.
bool clearName(int directory, const struct stat& found, int attempt, std::string& aside) {
  if (!S_ISDIR(found.st_mode)) return unlinkat(directory, kMachineLockName, 0) == 0;
  if (unlinkat(directory, kMachineLockName, AT_REMOVEDIR) == 0) return true;
  if (errno != ENOTEMPTY && errno != EEXIST) return false;
  aside = std::string(kMachineLockName) + ".foreign." + std::to_string(getpid()) + "." +
          std::to_string(attempt);
  return renameat2(directory, kMachineLockName, directory, aside.c_str(), RENAME_NOREPLACE) == 0;
}

// Removes what was found, if the name still names it. True when the caller may look again
// (removed, gone or replaced meanwhile, or the name to move it aside to was taken); false with
// errno set when it cannot be removed.
bool removeForeignLock(InstanceLock& lock, int directory, const std::string& path,
                       const struct stat& found, const std::string& detail, int attempt) {
  struct stat now {};
  if (fstatat(directory, kMachineLockName, &now, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!sameFile(now, found)) return true;
  std::string aside;
  if (!clearName(directory, found, attempt, aside)) {
    const int error = errno;
    note(lock, tp::kForeignLockNotRemoved, path, error);
    errno = error;
    return error == EEXIST;
  }
  note(lock, tp::kForeignLockRemoved, path, static_cast<uint32_t>(found.st_mode),
       static_cast<uint32_t>(found.st_uid), static_cast<uint64_t>(found.st_nlink));
  if (aside.empty()) {
    std::fprintf(stderr, "/!\\ %s was not this tool's lock (%s): removed \n", path.c_str(),
                 detail.c_str());
  } else {
    std::fprintf(stderr, "/!\\ %s was not this tool's lock (%s): moved aside to %s \n",
                 path.c_str(), detail.c_str(), aside.c_str());
  }
  return true;
}

// The process ID the holder of the lock wrote into its file, or -1.
int32_t holderOf(int fd) {
  char text[16] = {};
  if (pread(fd, text, sizeof text - 1, 0) <= 0) return -1;
  return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

// For the operator who wonders which process keeps other runs out. False with errno set when it
// cannot be written, which changes nothing of the lock.
bool recordHolder(int fd) {
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
  return ftruncate(fd, 0) == 0 &&
         pwrite(fd, text, static_cast<std::size_t>(length), 0) == static_cast<ssize_t>(length);
}

int lockWithoutWaiting(int fd) {
  int result = 0;
  do {
    result = flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result;
}

// Opens or creates this tool's lock file and locks it. On kFailed errno says why.
MachineLock takeMachineLock(InstanceLock& lock) {
  const std::string directoryPath = platform::current().hostPath(kMachineLockDirectory);
  const std::string path = directoryPath + "/" + kMachineLockName;
  const int directory = openLockDirectory(lock, directoryPath);
  if (directory < 0) {
    const int error = errno;
    note(lock, tp::kMachineLockFailed, path, error);
    errno = error;
    return MachineLock::kFailed;
  }
  int error = EAGAIN;  // the name kept changing
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    struct stat examined {};
    int fd = -1;
    if (fstatat(directory, kMachineLockName, &examined, AT_SYMLINK_NOFOLLOW) == 0) {
      const std::string detail = foreignLockDetail(examined);
      if (!detail.empty()) {
        if (removeForeignLock(lock, directory, path, examined, detail, attempt)) continue;
        error = errno;
        break;
      }
      fd = openat(directory, kMachineLockName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && (errno == ENOENT || errno == ELOOP)) continue;  // removed or replaced
    } else if (errno == ENOENT) {
      fd = openat(directory, kMachineLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  kLockFileMode);
      if (fd < 0 && errno == EEXIST) continue;  // another run made it first
      // Whatever the umask took away.
      if (fd >= 0 && fchmod(fd, kLockFileMode) != 0) {
        error = errno;
        close(fd);
        break;
      }
      if (fd >= 0 && fstat(fd, &examined) != 0) {
        error = errno;
        close(fd);
        break;
      }
    }
    if (fd < 0) {
      error = errno;
      break;
    }
    // The file opened must be the one examined: the name may have changed in between.
    struct stat opened {};
    if (fstat(fd, &opened) != 0 || !sameFile(opened, examined) ||
        !foreignLockDetail(opened).empty()) {
      close(fd);
      continue;
    }
    if (lockWithoutWaiting(fd) != 0) {
      error = errno;
      if (error == EWOULDBLOCK) note(lock, tp::kMachineLockHeld, path, holderOf(fd));
      close(fd);
      if (error == EWOULDBLOCK) {
        close(directory);
        return MachineLock::kHeldElsewhere;
      }
      break;
    }
    // A lock on a file the name no longer leads to (removed or replaced while it was opened and
    // locked) would keep nobody out.
    struct stat named {};
    if (fstatat(directory, kMachineLockName, &named, AT_SYMLINK_NOFOLLOW) != 0 ||
        !sameFile(named, opened)) {
      note(lock, tp::kLockFileReplaced, path);
      close(fd);
      continue;
    }
    if (!recordHolder(fd)) note(lock, tp::kHolderNotRecorded, path, errno);
    lock.machineLockFd = fd;
    note(lock, tp::kMachineLockTaken, path, fd);
    close(directory);
    return MachineLock::kTaken;
  }
  close(directory);
  note(lock, tp::kMachineLockFailed, path, error);
  errno = error;
  return MachineLock::kFailed;
}

// ---- The single-instance marker ----

// Raises the marker's value from 0 to 1 for as long as this process lives: the kernel undoes
// the operation when the process ends, however it ends (a kill -9 included). The test for 0 and
// the raise are one atomic operation, so of two runs only one can hold the marker. False with
// errno set (EAGAIN: somebody holds it).
bool holdMarker(int id) {
  sembuf ops[2] = {{0, 0, IPC_NOWAIT}, {0, 1, static_cast<short>(SEM_UNDO | IPC_NOWAIT)}};
  return semop(id, ops, 2) == 0;
}

// The argument the caller of semctl declares itself.
union SemaphoreArgument {
  int value;
  semid_ds* buffer;
};

// A marker this tool makes has permission bits 0, and the user the tool runs as made and owns it.
// Anything else under the key was put there by someone else, to keep the tool out or not.
bool foreignMarker(const semid_ds& state) {
  const uid_t self = geteuid();
  return state.sem_perm.uid != self || state.sem_perm.cuid != self ||
         (state.sem_perm.mode & 0777) != 0;
}

enum class Existing { kTakenOver, kLive, kForeignRemoved, kForeignStays };

// The marker that exists under the key: a foreign one is removed; one of this tool left by a run
// that ended without its teardown (held once, its last operation has a time, and that hold has
// been undone, its value is 0) is taken over; one never held belongs to a run that is starting,
// one held to a live run.
Existing examineExistingMarker(InstanceLock& lock, key_t key) {
  const int id = semget(key, 1, 0);
  if (id == -1) {
    note(lock, tp::kMarkerNotOpened, errno);
    return Existing::kLive;
  }
  semid_ds state{};
  SemaphoreArgument argument{};
  argument.buffer = &state;
  if (semctl(id, 0, IPC_STAT, argument) != 0) {
    note(lock, tp::kMarkerNotExamined, id, errno);
    return Existing::kLive;
  }
  if (foreignMarker(state)) {
    const auto owner = static_cast<uint32_t>(state.sem_perm.uid);
    const auto creator = static_cast<uint32_t>(state.sem_perm.cuid);
    const auto mode = static_cast<uint32_t>(state.sem_perm.mode & 0777);
    if (semctl(id, 0, IPC_RMID) != 0) {
      note(lock, tp::kForeignMarkerNotRemoved, id, owner, creator, mode, errno);
      return Existing::kForeignStays;
    }
    note(lock, tp::kForeignMarkerRemoved, id, owner, creator, mode);
    std::fprintf(stderr,
                 "/!\\ The single-instance marker (semaphore %d, owner %u, creator %u, mode %04o) "
                 "was not made by this tool: removed \n",
                 id, owner, creator, mode);
    return Existing::kForeignRemoved;
  }
  const int lastPid = semctl(id, 0, GETPID);
  if (state.sem_otime == 0) {
    note(lock, tp::kMarkerBeingTaken, id);
    return Existing::kLive;
  }
  if (!holdMarker(id)) {
    note(lock, tp::kMarkerHeld, id, lastPid, errno);
    return Existing::kLive;
  }
  note(lock, tp::kStaleMarkerTakenOver, id, lastPid);
  lock.semaphoreId = id;
  return Existing::kTakenOver;
}

void takeMarker(InstanceLock& lock) {
  const key_t key = ftok(kInstanceKeyPath, 0);
  for (int attempt = 0; attempt < kMarkerAttempts; ++attempt) {
    const int id = semget(key, 1, IPC_CREAT | IPC_EXCL);
    const int error = id == -1 ? errno : 0;
    lock.semaphoreId = id;
    lock.isFirst = !(id == -1 && error == EEXIST);
    note(lock, tp::kSemaphoreCreated, static_cast<int32_t>(key), id, error, lock.isFirst);
    if (id != -1) {
      // Without the hold (an unprivileged run cannot operate on a marker of permissions 0) the
      // marker still keeps other runs out; it is only not recognised as stale should this run be
      // killed.
      if (!holdMarker(id)) note(lock, tp::kMarkerNotHeld, id, errno);
      return;
    }
    // Any other failure to make the marker lets the tool go on under the machine-wide lock.
    if (error != EEXIST) return;
    switch (examineExistingMarker(lock, key)) {
      case Existing::kTakenOver:
        lock.isFirst = true;
        return;
      case Existing::kLive:
        return;
      case Existing::kForeignRemoved:
        continue;
      case Existing::kForeignStays:
        break;
    }
    break;
  }
  // A foreign marker that cannot be removed, or keeps coming back, keeps no run out: the
  // machine-wide lock is held, and it decides.
  note(lock, tp::kForeignMarkerStays);
  lock.semaphoreId = -1;
  lock.isFirst = true;
}

}  // namespace

InstanceLock::~InstanceLock() {
  releaseInstanceLock(*this);
}

void InstanceLock::writeHistory() {
  for (const std::function<void()>& record : history)
    record();
  history.clear();
}

std::unique_ptr<InstanceLock> acquireInstanceLock() {
  // The lock is allocated before the semaphore is made: a semaphore whose lock could not be
  // allocated would never be removed and would lock out every later run.
  std::unique_ptr<InstanceLock> lock(new (std::nothrow) InstanceLock);
  if (!lock) {
    errno = ENOMEM;
    trace::emit(tp::kLockNotAllocated);
    return nullptr;
  }
  switch (takeMachineLock(*lock)) {
    case MachineLock::kTaken:
      break;
    case MachineLock::kHeldElsewhere:
      lock->isFirst = false;
      return lock;
    case MachineLock::kFailed: {
      const int error = errno;
      lock.reset();
      errno = error;
      return nullptr;
    }
  }
  takeMarker(*lock);
  return lock;
}

void releaseInstanceLock(InstanceLock& lock) {
  if (lock.semaphoreId != -1) {
    if (semctl(lock.semaphoreId, 1, IPC_RMID) == 0)
      trace::emit(tp::kSemaphoreRemoved, lock.semaphoreId);
    else
      trace::emit(tp::kSemaphoreNotRemoved, lock.semaphoreId, errno);
    lock.semaphoreId = -1;
  }
  if (lock.machineLockFd != -1) {
    close(lock.machineLockFd);
    trace::emit(tp::kMachineLockReleased, lock.machineLockFd);
    lock.machineLockFd = -1;
  }
}

}  // namespace hlv
