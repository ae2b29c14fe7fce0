#include "tests/e2e/tool_copy.h"

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "tests/support/files.h"

namespace hlv::test {
namespace {

// The name the tool derives its single-instance key from.
constexpr const char* kInstanceKeyName = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";

// The key the tool computes from the key file in its working directory.
key_t instanceKey(const std::string& workDirectory) {
  const std::string keyFile = workDirectory + "/" + kInstanceKeyName;
  const key_t key = ftok(keyFile.c_str(), 0);
  if (key == -1) throw std::runtime_error("ftok failed for " + keyFile);
  return key;
}

}  // namespace

ToolCopy::ToolCopy() {
  namespace fs = std::filesystem;
  fs::create_directories(dir_ / "tool");
  fs::create_directories(dir_ / "work");
  program_ = dir_ / "tool/hlvflashupdate";
  fs::copy_file(builtProgram("hlvflashupdate"), program_);
  fs::permissions(program_, fs::perms::owner_all);
  writeFile(dir_ / ("work/" + std::string(kInstanceKeyName)), "");
  removeSemaphore();
}

ToolCopy::~ToolCopy() {
  releaseDatabase();
  removeSemaphore();
}

ProcessResult ToolCopy::run(const std::vector<std::string>& args, const std::string& input) const {
  ProcessOptions options;
  options.input = input;
  options.workDir = workDirectory();
  return runProcess(program_, args, options);
}

bool ToolCopy::semaphoreExists() const {
  return semget(instanceKey(workDirectory()), 0, 0) != -1;
}

bool ToolCopy::semaphoreHeld() const {
  const int id = semget(instanceKey(workDirectory()), 0, 0);
  return id != -1 && semctl(id, 0, GETVAL) == 1;
}

void ToolCopy::removeSemaphore() const {
  const int id = semget(instanceKey(workDirectory()), 0, 0);
  if (id != -1) semctl(id, 0, IPC_RMID);
}

std::vector<std::string> ToolCopy::logDirectories() const {
  std::vector<std::string> directories;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "tool/logs", error))
    directories.push_back(entry.path().string());
  return directories;
}

void ToolCopy::blockDatabaseOpen() {
  const std::string fifo = toolDirectory() + "updatedata.xml";
  if (mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed for " + fifo);
  databaseBlocked_ = true;
}

void ToolCopy::releaseDatabase() {
  if (!databaseBlocked_) return;
  databaseBlocked_ = false;
  // Opened for reading and writing, the FIFO never waits and counts as the writer a waiting run
  // needs; once it is removed and closed, a run that opened it reads its end at once, and a run
  // that had not opened it yet finds no database.
  const std::string fifo = toolDirectory() + "updatedata.xml";
  const int writer = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  unlink(fifo.c_str());
  if (writer >= 0) close(writer);
}

}  // namespace hlv::test
