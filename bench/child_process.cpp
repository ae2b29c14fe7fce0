#include "bench/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

extern char** environ;

namespace hlv::bench {

ChildCost runChild(const std::vector<std::string>& argv, const std::string& stdinText,
                   const std::string& outputPath) {
  ChildCost cost;
  const std::string inputPath = outputPath + ".stdin";
  std::ofstream(inputPath, std::ios::binary | std::ios::trunc) << stdinText;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> args;
  for (const std::string& arg : argv)
    args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return cost;

  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  unlink(inputPath.c_str());
  if (WIFEXITED(status)) cost.status = WEXITSTATUS(status);
  const auto ns = [](const timeval& t) {
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_usec) * 1000u;
  };
  cost.cpuNs = ns(usage.ru_utime) + ns(usage.ru_stime);
  cost.peakRssKib = static_cast<uint64_t>(usage.ru_maxrss);
  return cost;
}

std::string selfPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  return std::string(path, static_cast<std::size_t>(length));
}

std::string selfDirectory() {
  const std::string path = selfPath();
  return path.substr(0, path.rfind('/'));
}

std::string findProgram(const std::string& name) {
  std::string directories = std::getenv("PATH") ? std::getenv("PATH") : "";
  directories += ":/usr/sbin:/sbin";
  std::size_t start = 0;
  while (start <= directories.size()) {
    const std::size_t end = std::min(directories.find(':', start), directories.size());
    const std::string candidate = directories.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace hlv::bench
