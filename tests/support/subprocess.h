// Runs a program as a child process with scripted standard input and captured output.
#pragma once

#include <optional>
#include <string>
#include <vector>

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
  // Standard error is a pseudo-terminal instead of a pipe, as when an operator runs the program
  // at a console; what the program draws on it lands in err (the terminal turns "\n" into
  // "\r\n"). Standard input and output stay pipes.
  bool errorOnTerminal = false;
  unsigned timeoutSeconds = 60;
};

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// Path of a program built by this project.
std::string builtProgram(const std::string& name);

}  // namespace hlv::test
