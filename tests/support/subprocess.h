// Runs programs as child processes: to the end with scripted standard input and captured output,
// or in the background with their output going to files.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace hlv::test {

struct ProcessResult {
  int exitStatus = -1;  // the exit status, or -1 when the child was ended by a signal
  int signal = 0;       // the signal that ended it, or 0
  std::string out;      // standard output
  std::string err;      // standard error
};

struct ProcessOptions {
  std::string input;                   // written to standard input, which is then closed
  std::optional<std::string> workDir;  // the child's working directory
  // Sends SIGINT to the child once its standard output contains this text (then keeps reading).
  std::optional<std::string> interruptAfter;
  // Runs the child with this real and effective user ID (needs root).
  std::optional<unsigned> userId;
  // Files the child writes grow no further than this many bytes, as on a full disk: a write past
  // it fails (the signal that would end the child is ignored).
  std::optional<unsigned long> fileSizeLimit;
  // The child's umask (otherwise this process's).
  std::optional<mode_t> umask;
  // Standard error is a pseudo-terminal instead of a pipe, as when an operator runs the program
  // at a console; what the program draws on it lands in err (the terminal turns "\n" into
  // "\r\n"). Standard input and output stay pipes.
  bool errorOnTerminal = false;
  // Standard output is a pipe whose reading end is closed before the program starts, as when the
  // program's output is piped into a command that has already ended: every write to it fails.
  bool outputClosed = false;
  unsigned timeoutSeconds = 60;
};

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// Path of a program built by this project.
std::string builtProgram(const std::string& name);

// A program running in the background, its standard output and error going to files.
class BackgroundRun {
 public:
  // The program reads `input` and then the end; with keepInputOpen its standard input stays open
  // after `input` until the run ends, so the program waits at the read that wants more.
  BackgroundRun(const std::string& program, const std::vector<std::string>& args,
                const std::string& input, const std::string& workDir, bool keepInputOpen = false);
  ~BackgroundRun();  // kills the run if it is still going
  BackgroundRun(const BackgroundRun&) = delete;
  BackgroundRun& operator=(const BackgroundRun&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Waits for the end; false on timeout.
  bool wait(unsigned timeoutSeconds);
  int exitStatus() const { return exitStatus_; }  // -1 when ended by a signal
  int signal() const { return signal_; }
  std::string output() const;  // standard output so far
  std::string errors() const;  // standard error so far

 private:
  void reap(int status);

  TempDir files_;
  pid_t pid_ = -1;
  int inputWriter_ = -1;
  bool ended_ = false;
  int exitStatus_ = -1;
  int signal_ = 0;
};

// Polls the condition every 20 ms; false when it is still false after the timeout.
bool waitUntil(const std::function<bool()>& condition, unsigned timeoutSeconds);

}  // namespace hlv::test
