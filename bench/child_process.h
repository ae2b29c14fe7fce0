// Runs a program as a child process and tells what it cost: its CPU time (user and system) and
// its peak resident memory, as the kernel accounts them for the child alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hlv::bench {

struct ChildCost {
  int status = -1;          // the exit status; -1 when it did not exit normally
  uint64_t cpuNs = 0;       // user + system
  uint64_t peakRssKib = 0;  // ru_maxrss
};

// Runs argv[0] with the arguments, standard input read from stdinText, standard output and
// standard error into outputPath.
ChildCost runChild(const std::vector<std::string>& argv, const std::string& stdinText,
                   const std::string& outputPath);

// The program's own path (for running itself in another mode) and the directory it lies in.
std::string selfPath();
std::string selfDirectory();

// Where `name` is found on PATH, /usr/sbin and /sbin included; empty when nowhere.
std::string findProgram(const std::string& name);

}  // namespace hlv::bench
