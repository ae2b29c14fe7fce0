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

  // Makes a run wait once it holds its single-instance semaphore and has made its log
  // directory: the update database it opens next is made a FIFO, whose open for reading waits
  // for a writer. releaseDatabase lets a waiting open through to an empty database and removes
  // the FIFO: every run then finds no database (status 9).
  void blockDatabaseOpen();
  void releaseDatabase();

 private:
  TempDir dir_;
  std::string program_;
  bool databaseBlocked_ = false;
};

}  // namespace hlv::test
