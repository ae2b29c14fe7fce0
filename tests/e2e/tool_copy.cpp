#include "tests/e2e/tool_copy.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "tests/support/files.h"

namespace hlv::test {
namespace {

// The name the tool derives its single-instance key from.
constexpr const char* kInstanceKeyName = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";

std::string runDirectoryName(time_t when) {
  struct tm local {};
  localtime_r(&when, &local);
  char name[32] = {};
  strftime(name, sizeof name, "%Y%m%d_%H-%M-%S", &local);
  return name;
}

// The key the tool computes from the key file in its working directory.
key_t instanceKey(const std::string& workDirectory) {
  const std::string keyFile = workDirectory + "/" + kInstanceKeyName;
  const key_t key = ftok(keyFile.c_str(), 0);
  if (key == -1) throw std::runtime_error("ftok failed for " + keyFile);
  return key;
}

}  // namespace

bool waitUntil(const std::function<bool()>& condition, unsigned timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

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
  for (int reader : readers_)
    close(reader);
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

void ToolCopy::blockTraceFileOpens(int seconds) {
  const time_t now = time(nullptr);
  for (int i = 0; i <= seconds; ++i) {
    const std::string directory = dir_ / ("tool/logs/" + runDirectoryName(now + i));
    std::filesystem::create_directories(directory);
    const std::string fifo = directory + "/voflashupdatelog.etl";
    if (mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed for " + fifo);
    fifos_.push_back(fifo);
  }
}

void ToolCopy::releaseTraceFiles() {
  for (const std::string& fifo : fifos_) {
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (reader >= 0) readers_.push_back(reader);
  }
  fifos_.clear();
}

BackgroundRun::BackgroundRun(const std::string& program, const std::vector<std::string>& args,
                             const std::string& input, const std::string& workDir,
                             bool keepInputOpen) {
  const std::string inputFile = files_ / "input";
  writeFile(inputFile, input);
  int inputPipe[2] = {-1, -1};
  if (keepInputOpen && pipe2(inputPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string outputFile = files_ / "output";
  const std::string errorFile = files_ / "error";
  writeFile(outputFile, "");  // readable from the start, before the run writes anything
  writeFile(errorFile, "");

  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int in = keepInputOpen ? inputPipe[0] : open(inputFile.c_str(), O_RDONLY);
    const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (chdir(workDir.c_str()) != 0) _exit(126);
    ::signal(SIGINT, SIG_DFL);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
      argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  if (keepInputOpen) {
    close(inputPipe[0]);
    inputWriter_ = inputPipe[1];
  }
}

BackgroundRun::~BackgroundRun() {
  if (!ended_) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (inputWriter_ >= 0) close(inputWriter_);
}

void BackgroundRun::reap(int status) {
  ended_ = true;
  if (WIFEXITED(status)) exitStatus_ = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) signal_ = WTERMSIG(status);
}

bool BackgroundRun::running() {
  if (ended_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) reap(status);
  return !ended_;
}

bool BackgroundRun::wait(unsigned timeoutSeconds) {
  return waitUntil([this] { return !running(); }, timeoutSeconds);
}

std::string BackgroundRun::output() const {
  return readFile(files_ / "output");
}

}  // namespace hlv::test
