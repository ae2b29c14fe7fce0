// A private installation of the built tool for one end-to-end test.
//
// The tool's directory is the directory of its executable: its logs and backups go there. Each
// test therefore runs its own copy, in a temporary directory of its own. The copy runs in a
// working directory that holds a file named like the single-instance key, so its semaphore key
// is derived from that file and no other run on the machine shares it.
#pragma once

#include <string>
#include <vector>

#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv::test {

class ToolCopy {
 public:
  ToolCopy();  // copies the built tool and removes a semaphore a crashed run left behind
  ~ToolCopy();
  ToolCopy(const ToolCopy&) = delete;
  ToolCopy& operator=(const ToolCopy&) = delete;

  const std::string& program() const { return program_; }
  std::string toolDirectory() const { return dir_ / "tool/"; }
  std::string workDirectory() const { return dir_ / "work"; }

  // Runs the copy in the working directory.
  ProcessResult run(const std::vector<std::string>& args, const std::string& input) const;

  // The single-instance semaphore of runs in the working directory.
  bool semaphoreExists() const;
  // It exists and a live run holds it (its value is 1 while the holder lives).
  bool semaphoreHeld() const;
  void removeSemaphore() const;

  // Directories under the tool's "logs/".
  std::vector<std::string> logDirectories() const;

  // Makes the tool block when it opens its trace file: the trace file of every run directory
  // from now to `seconds` seconds ahead is made a FIFO, whose open for writing waits for a
  // reader. releaseTraceFiles opens all of them for reading and keeps them open (a writer must
  // not see its reader go away) until the copy is destroyed.
  void blockTraceFileOpens(int seconds);
  void releaseTraceFiles();

 private:
  TempDir dir_;
  std::string program_;
  std::vector<std::string> fifos_;
  std::vector<int> readers_;
};

}  // namespace hlv::test
