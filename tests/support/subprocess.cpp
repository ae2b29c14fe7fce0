#include "tests/support/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/files.h"

namespace hlv::test {
namespace {

void closeIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

void setDisposition(int signalNumber, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signalNumber, &action, nullptr);
}

// What the child's standard streams become.
struct ChildStreams {
  int in;
  int out;
  int err;
};

// Starts the program with the streams, the working directory and the limits of the options.
// The child starts with the default actions for SIGINT and SIGPIPE, as from a shell (this process
// ignores SIGPIPE, which a child would otherwise inherit); it ends with 126 when it cannot be set
// up and 127 when the program cannot be run.
pid_t startChild(const std::string& program, const std::vector<std::string>& args,
                 const ChildStreams& streams, const ProcessOptions& options) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid != 0) return pid;
  if (dup2(streams.in, 0) < 0 || dup2(streams.out, 1) < 0 || dup2(streams.err, 2) < 0) _exit(126);
  if (options.workDir && chdir(options.workDir->c_str()) != 0) _exit(126);
  setDisposition(SIGINT, SIG_DFL);
  setDisposition(SIGPIPE, SIG_DFL);
  if (options.fileSizeLimit) {
    setDisposition(SIGXFSZ, SIG_IGN);
    const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  if (options.umask) umask(*options.umask);
  if (options.userId) {
    if (setgid(*options.userId) != 0 || setuid(*options.userId) != 0) _exit(126);
  }
  execv(program.c_str(), argv.data());
  _exit(127);
}

// The exit status and signal of a child that has ended.
void decodeStatus(int status, int& exitStatus, int& signal) {
  if (WIFEXITED(status)) exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) signal = WTERMSIG(status);
}

}  // namespace

std::string builtProgram(const std::string& name) {
#ifdef HLV_BIN_DIR
  return std::string(HLV_BIN_DIR) + "/" + name;
#else
  return name;
#endif
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  // A child that ends before it has read all its input must not take the test with it.
  setDisposition(SIGPIPE, SIG_IGN);
  int inPipe[2], outPipe[2], errPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  if (options.errorOnTerminal) {
    // The terminal's side the program writes to, and the side this process reads.
    if (openpty(&errPipe[0], &errPipe[1], nullptr, nullptr, nullptr) != 0)
      throw std::runtime_error("openpty failed");
    fcntl(errPipe[0], F_SETFD, FD_CLOEXEC);
    fcntl(errPipe[1], F_SETFD, FD_CLOEXEC);
  } else if (pipe2(errPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = startChild(program, args, {inPipe[0], outPipe[1], errPipe[1]}, options);
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);

  ProcessResult result;
  int inFd = inPipe[1], outFd = outPipe[0], errFd = errPipe[0];
  std::size_t written = 0;
  if (options.outputClosed) closeIfOpen(outFd);
  if (options.input.empty())
    closeIfOpen(inFd);
  else
    fcntl(inFd, F_SETFL, O_NONBLOCK);
  bool interrupted = false;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);

  while (outFd >= 0 || errFd >= 0) {
    pollfd fds[3];
    int count = 0;
    if (outFd >= 0) fds[count++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[count++] = {errFd, POLLIN, 0};
    if (inFd >= 0) fds[count++] = {inFd, POLLOUT, 0};
    const int ready = poll(fds, count, 200);
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec > static_cast<time_t>(options.timeoutSeconds)) {
      kill(pid, SIGKILL);
      break;
    }
    if (ready <= 0) continue;
    for (int i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == inFd) {
        const ssize_t n =
            write(inFd, options.input.data() + written, options.input.size() - written);
        if (n > 0) written += static_cast<std::size_t>(n);
        if (n < 0 && errno != EAGAIN) written = options.input.size();
        if (written == options.input.size()) closeIfOpen(inFd);
        continue;
      }
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      // A terminal whose program side is closed reads as an error (EIO), not as the end.
      if (n <= 0) {
        if (fds[i].fd == outFd)
          closeIfOpen(outFd);
        else
          closeIfOpen(errFd);
        continue;
      }
      std::string& target = fds[i].fd == outFd ? result.out : result.err;
      target.append(buffer, static_cast<std::size_t>(n));
      if (options.interruptAfter && !interrupted &&
          result.out.find(*options.interruptAfter) != std::string::npos) {
        kill(pid, SIGINT);
        interrupted = true;
      }
    }
  }
  closeIfOpen(inFd);
  closeIfOpen(outFd);
  closeIfOpen(errFd);

  int status = 0;
  waitpid(pid, &status, 0);
  decodeStatus(status, result.exitStatus, result.signal);
  return result;
}

BackgroundRun::BackgroundRun(const std::string& program, const std::vector<std::string>& args,
                             const std::string& input, const std::string& workDir,
                             bool keepInputOpen) {
  const std::string inputFile = files_ / "input";
  writeFile(inputFile, input);
  writeFile(files_ / "output", "");  // readable from the start, before the run writes anything
  writeFile(files_ / "error", "");
  int inputPipe[2] = {-1, -1};
  if (keepInputOpen && pipe2(inputPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  int in = keepInputOpen ? inputPipe[0] : open(inputFile.c_str(), O_RDONLY | O_CLOEXEC);
  int out = open((files_ / "output").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  int err = open((files_ / "error").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (in < 0 || out < 0 || err < 0) throw std::runtime_error("cannot open the run's files");
  ProcessOptions options;
  options.workDir = workDir;
  pid_ = startChild(program, args, {in, out, err}, options);
  closeIfOpen(in);
  closeIfOpen(out);
  closeIfOpen(err);
  if (keepInputOpen) {
    inputWriter_ = inputPipe[1];
    // A pipe takes far more than the few answers a test gives before the program reads them.
    if (write(inputWriter_, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
      throw std::runtime_error("cannot write the run's input");
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
  decodeStatus(status, exitStatus_, signal_);
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

std::string BackgroundRun::errors() const {
  return readFile(files_ / "error");
}

bool waitUntil(const std::function<bool()>& condition, unsigned timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace hlv::test
