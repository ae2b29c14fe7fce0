// One instance per machine: the machine-wide lock file and the single-instance marker, against
// what a second run, a local user or a run killed without its teardown may leave in their way.
#include "app/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/update_session.h"
#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/trace_capture.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

namespace fs = std::filesystem;

// Someone else on the machine.
constexpr uid_t kOtherUser = 12345;

// Each test in a directory of its own, which holds the single-instance key file and stands for
// the machine's root (its /run/lock is there).
class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previousDirectory_ = fs::current_path();
    fs::create_directories(dir_ / "work");
    test::writeFile(dir_ / ("work/" + std::string(kInstanceKeyPath)), "");
    fs::current_path(dir_ / "work");
    removeMarker();
  }
  void TearDown() override {
    removeMarker();
    fs::current_path(previousDirectory_);
  }

  static key_t key() { return ftok(kInstanceKeyPath, 0); }
  static int marker() { return semget(key(), 0, 0); }
  static void removeMarker() {
    if (marker() != -1) semctl(marker(), 0, IPC_RMID);
  }
  static semid_ds markerState() {
    semid_ds state{};
    union {
      int value;
      semid_ds* buffer;
    } argument{};
    argument.buffer = &state;
    semctl(marker(), 0, IPC_STAT, argument);
    return state;
  }
  std::string lockDirectory() const { return dir_ / "run/lock"; }
  std::string lockFile() const { return dir_ / "run/lock/hlvflashupdate.lock"; }

  // Takes the lock with standard error captured into `told`.
  std::unique_ptr<InstanceLock> acquire(std::string& told) {
    ::testing::internal::CaptureStderr();
    std::unique_ptr<InstanceLock> lock = acquireInstanceLock();
    told = ::testing::internal::GetCapturedStderr();
    return lock;
  }

  // The lock file this tool keeps: regular, one name, the user's, 0600, naming the holder.
  void expectOwnLockFile() {
    struct stat found {};
    ASSERT_EQ(lstat(lockFile().c_str(), &found), 0);
    EXPECT_TRUE(S_ISREG(found.st_mode));
    EXPECT_EQ(found.st_uid, geteuid());
    EXPECT_EQ(found.st_mode & 07777, 0600u);
    EXPECT_EQ(found.st_nlink, 1u);
    EXPECT_EQ(test::readFile(lockFile()), std::to_string(getpid()) + "\n");
  }

  test::TempDir dir_;
  platform::RootedPlatform machine_{dir_.path()};
  platform::ScopedPlatform installed_{machine_};

 private:
  fs::path previousDirectory_;
};

// Takes the lock in a child process (in `workDirectory`, on this machine) and reports in its exit
// status whether it was the first instance (10), another one (11), or could not tell (12).
int acquireInChild(const std::string& workDirectory) {
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(workDirectory.c_str()) != 0) _exit(13);
    const std::unique_ptr<InstanceLock> lock = acquireInstanceLock();
    _exit(!lock ? 12 : lock->isFirst ? 10 : 11);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(InstanceLockTest, ASecondRunIsRefusedFromAnyWorkingDirectory) {
  std::string told;
  std::unique_ptr<InstanceLock> lock = acquire(told);
  ASSERT_TRUE(lock);
  ASSERT_TRUE(lock->isFirst);
  EXPECT_EQ(told, "");
  expectOwnLockFile();

  // A directory with a key file of its own gives another marker key: the lock file still keeps
  // the run out. So does one without, whose key is the one every such run shares.
  fs::create_directories(dir_ / "elsewhere");
  test::writeFile(dir_ / ("elsewhere/" + std::string(kInstanceKeyPath)), "");
  EXPECT_EQ(acquireInChild(dir_ / "elsewhere"), 11);
  EXPECT_EQ(acquireInChild(dir_.path()), 11);
  EXPECT_EQ(acquireInChild(dir_ / "work"), 11);

  // Let go at the end, the file kept: the next run takes it.
  lock.reset();
  EXPECT_TRUE(fs::is_regular_file(lockFile()));
  EXPECT_EQ(acquireInChild(dir_ / "elsewhere"), 10);
}

TEST_F(InstanceLockTest, WhatBecameOfTheLockIsTracedOnlyOnceTheHistoryIsWritten) {
  test::TraceCapture capture;
  std::string told;
  std::unique_ptr<InstanceLock> lock = acquire(told);
  ASSERT_TRUE(lock);
  std::vector<std::string> lines = capture.lines();
  EXPECT_TRUE(lines.empty()) << lines.front();

  test::TraceCapture later;
  lock->writeHistory();
  lock->writeHistory();  // once only
  lines = later.lines();
  // Then, unprivileged, that the marker of permissions 0 could not be held.
  ASSERT_EQ(lines.size(), geteuid() == 0 ? 3u : 4u);
  EXPECT_NE(lines[0].find("instance_lock.kLockDirectoryMade"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("instance_lock.kMachineLockTaken"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("instance_lock.kSemaphoreCreated"), std::string::npos) << lines[2];
}

TEST_F(InstanceLockTest, TheLockFileIsMadeOfMode0600WhateverTheUmask) {
  const mode_t previous = umask(0277);
  std::string told;
  std::unique_ptr<InstanceLock> lock = acquire(told);
  umask(previous);
  ASSERT_TRUE(lock);
  EXPECT_TRUE(lock->isFirst);
  expectOwnLockFile();
}

struct ForeignLockCase {
  const char* what;
  // Puts something under the lock's name; may keep a descriptor open in `held`.
  std::function<void(const std::string& lockFile, const std::string& victim, int& held)> plant;
  const char* told;
  bool needsRoot = false;
};

void PrintTo(const ForeignLockCase& c, std::ostream* os) {
  *os << c.what;
}

const ForeignLockCase kForeignLocks[] = {
    {"SymbolicLinkToAnotherFile",
     [](const std::string& lockFile, const std::string& victim, int&) {
       ASSERT_EQ(symlink(victim.c_str(), lockFile.c_str()), 0);
     },
     "a symbolic link"},
    {"FileOfAnotherUserWhoHoldsALockOnIt",
     [](const std::string& lockFile, const std::string&, int& held) {
       test::writeFile(lockFile, "");
       ASSERT_EQ(chmod(lockFile.c_str(), 0600), 0);
       ASSERT_EQ(chown(lockFile.c_str(), kOtherUser, kOtherUser), 0);
       held = open(lockFile.c_str(), O_RDWR);
       ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
     },
     "owned by user 12345", true},
    {"FileOfAnotherMode",
     [](const std::string& lockFile, const std::string&, int&) {
       test::writeFile(lockFile, "");
       ASSERT_EQ(chmod(lockFile.c_str(), 0644), 0);
     },
     "of mode 0644"},
    {"SecondNameOfAnotherFile",
     [](const std::string& lockFile, const std::string& victim, int&) {
       ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
       ASSERT_EQ(link(victim.c_str(), lockFile.c_str()), 0);
     },
     "a file with other names"},
    {"EmptyDirectory",
     [](const std::string& lockFile, const std::string&, int&) {
       ASSERT_EQ(mkdir(lockFile.c_str(), 0700), 0);
     },
     "not a regular file"},
    {"Pipe",
     [](const std::string& lockFile, const std::string&, int&) {
       ASSERT_EQ(mkfifo(lockFile.c_str(), 0600), 0);
     },
     "not a regular file"},
};

class ForeignLockFile : public InstanceLockTest,
                        public ::testing::WithParamInterface<ForeignLockCase> {};

// Whatever lies under the lock's name and is not this tool's lock keeps no run out: it is
// removed (what it pointed to left alone), said on standard error, and a lock of the tool's own
// is taken.
TEST_P(ForeignLockFile, IsRemovedAndReplacedByTheToolsOwn) {
  const ForeignLockCase& c = GetParam();
  if (c.needsRoot && geteuid() != 0) GTEST_SKIP() << "only root gives a file to another user";
  fs::create_directories(lockDirectory());
  const std::string victim = dir_ / "precious";
  test::writeFile(victim, "not to be touched\n");
  int held = -1;
  c.plant(lockFile(), victim, held);

  test::TraceCapture capture;
  std::string told;
  std::unique_ptr<InstanceLock> lock = acquire(told);
  if (held >= 0) close(held);
  ASSERT_TRUE(lock) << strerror(errno);
  EXPECT_TRUE(lock->isFirst);
  EXPECT_EQ(told, "/!\\ " + lockFile() + " was not this tool's lock (" + c.told + "): removed \n");
  expectOwnLockFile();
  EXPECT_EQ(test::readFile(victim), "not to be touched\n");
  lock->writeHistory();
  const std::vector<std::string> lines = capture.lines();
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
    return line.find("instance_lock.kForeignLockRemoved") != std::string::npos;
  }));
}

INSTANTIATE_TEST_SUITE_P(Plants, ForeignLockFile, ::testing::ValuesIn(kForeignLocks),
                         [](const auto& info) { return std::string(info.param.what); });

// A directory with something in it is not emptied, whatever it holds (a link to elsewhere may be
// among it): it is moved out of the way, under a name nobody took.
TEST_F(InstanceLockTest, ADirectoryWithContentsIsMovedAsideNotEmptied) {
  const std::string precious = dir_ / "precious";
  test::writeFile(precious, "not to be touched\n");
  test::writeFile(lockFile() + "/inside", "someone's file\n");
  fs::create_symlink(precious, lockFile() + "/link");
  const std::string asideName = "hlvflashupdate.lock.foreign." + std::to_string(getpid()) + ".";
  test::writeFile(lockDirectory() + "/" + asideName + "0/taken", "a name taken already\n");

  std::string told;
  std::unique_ptr<InstanceLock> lock = acquire(told);
  ASSERT_TRUE(lock) << strerror(errno);
  EXPECT_TRUE(lock->isFirst);
  EXPECT_EQ(told, "/!\\ " + lockFile() +
                      " was not this tool's lock (not a regular file): moved aside to " +
                      asideName + "1 \n");
  expectOwnLockFile();
  EXPECT_EQ(test::readFile(lockDirectory() + "/" + asideName + "0/taken"),
            "a name taken already\n");
  const std::string moved = lockDirectory() + "/" + asideName + "1";
  EXPECT_EQ(test::readFile(moved + "/inside"), "someone's file\n");
  EXPECT_TRUE(fs::is_symlink(moved + "/link"));
  EXPECT_EQ(test::readFile(precious), "not to be touched\n");
}

struct UnusableDirectoryCase {
  const char* what;
  std::function<void(const test::TempDir& dir)> plant;
  int error;
};

void PrintTo(const UnusableDirectoryCase& c, std::ostream* os) {
  *os << c.what;
}

class UnusableLockDirectory : public InstanceLockTest,
                              public ::testing::WithParamInterface<UnusableDirectoryCase> {};

// A run that cannot be sure it runs alone does not go on: the session stops as when its lock
// cannot be made at all, and no marker is left behind.
TEST_P(UnusableLockDirectory, StopsTheSessionWithStatus1) {
  const UnusableDirectoryCase& c = GetParam();
  c.plant(dir_);
  UpdateSession session(dir_ / "tool/", SessionOptions{});
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(session.run(), 1u);
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "[!] Couldn't create event (code: " + std::to_string(c.error) + ")! \n");
  EXPECT_EQ(marker(), -1);
}

const UnusableDirectoryCase kUnusableDirectories[] = {
    {"LockDirectoryIsAFile",
     [](const test::TempDir& dir) { test::writeFile(dir / "run/lock", ""); }, ENOTDIR},
    // Never followed: the lock must be where the machine keeps it.
    {"LockDirectoryIsALink",
     [](const test::TempDir& dir) {
       fs::create_directories(dir / "elsewhere");
       fs::create_directories(dir / "run");
       fs::create_directory_symlink(dir / "elsewhere", dir / "run/lock");
     },
     ENOTDIR},
};

INSTANTIATE_TEST_SUITE_P(Plants, UnusableLockDirectory, ::testing::ValuesIn(kUnusableDirectories),
                         [](const auto& info) { return std::string(info.param.what); });

struct ForeignMarkerCase {
  const char* what;
  std::function<int()> plant;  // makes the marker under the key; its id
  const char* told;            // what standard error says of it, after the id
};

void PrintTo(const ForeignMarkerCase& c, std::ostream* os) {
  *os << c.what;
}

void setOwner(int id, uid_t owner, mode_t mode) {
  semid_ds state{};
  union {
    int value;
    semid_ds* buffer;
  } argument{};
  argument.buffer = &state;
  semctl(id, 0, IPC_STAT, argument);
  state.sem_perm.uid = owner;
  state.sem_perm.mode = mode;
  semctl(id, 0, IPC_SET, argument);
}

// Held, as a live run holds its marker: a foreign marker is removed whatever its value.
int holdMarkerNow(int id) {
  sembuf raise{0, 1, 0};
  semop(id, &raise, 1);
  return id;
}

const ForeignMarkerCase kForeignMarkers[] = {
    {"ReadableAndWritableByItsOwner",
     [] {
       return holdMarkerNow(semget(ftok(kInstanceKeyPath, 0), 1, IPC_CREAT | IPC_EXCL | 0600));
     },
     "owner 0, creator 0, mode 0600"},
    {"GivenToAnotherUser",
     [] {
       const int id = semget(ftok(kInstanceKeyPath, 0), 1, IPC_CREAT | IPC_EXCL | 0600);
       holdMarkerNow(id);
       setOwner(id, kOtherUser, 0);
       return id;
     },
     "owner 12345, creator 0, mode 0000"},
    // Made by another user, who then passed it to root with the permissions this tool's marker
    // has: only the creator tells it apart.
    {"MadeByAnotherUserAndPassedToRoot",
     [] {
       const key_t key = ftok(kInstanceKeyPath, 0);  // the other user may not see the key file
       const pid_t child = fork();
       if (child == 0) {
         if (setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0) _exit(1);
         const int id = semget(key, 1, IPC_CREAT | IPC_EXCL | 0600);
         holdMarkerNow(id);
         setOwner(id, 0, 0);
         _exit(id == -1 ? 2 : 0);
       }
       int status = 0;
       waitpid(child, &status, 0);
       return semget(key, 0, 0);
     },
     "owner 0, creator 12345, mode 0000"},
};

class ForeignMarker : public InstanceLockTest,
                      public ::testing::WithParamInterface<ForeignMarkerCase> {};

TEST_P(ForeignMarker, IsRemovedAndTheRunTakesAMarkerOfItsOwn) {
  const ForeignMarkerCase& c = GetParam();
  if (geteuid() != 0) GTEST_SKIP() << "the markers are made as root and as another user";
  const int foreign = c.plant();
  ASSERT_NE(foreign, -1);

  std::string told;
  std::unique_ptr<InstanceLock> lock = acquire(told);
  ASSERT_TRUE(lock);
  EXPECT_TRUE(lock->isFirst);
  EXPECT_EQ(told, "/!\\ The single-instance marker (semaphore " + std::to_string(foreign) + ", " +
                      c.told + ") was not made by this tool: removed \n");
  ASSERT_NE(marker(), -1);
  EXPECT_EQ(lock->semaphoreId, marker());
  const semid_ds own = markerState();
  EXPECT_EQ(own.sem_perm.uid, 0u);
  EXPECT_EQ(own.sem_perm.cuid, 0u);
  EXPECT_EQ(own.sem_perm.mode & 0777, 0u);
  lock.reset();
  EXPECT_EQ(marker(), -1);
}

INSTANTIATE_TEST_SUITE_P(Plants, ForeignMarker, ::testing::ValuesIn(kForeignMarkers),
                         [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace hlv
