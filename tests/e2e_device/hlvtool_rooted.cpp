// hlvtool_rooted ROOT [--] [ARGS...]
//
// Runs the whole tool on a machine described by a directory: "/sys" and "/proc" are ROOT/sys and
// ROOT/proc, and the tool's own directory is ROOT/tool/ (where it looks for its update bundle and
// writes logs/). Standard input, output and the exit status are the tool's. The machine's
// operator is root.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "app/program_entry.h"
#include "platform/linux_platform.h"
#include "platform/platform.h"

namespace {

class RootedMachine : public hlv::platform::RootedPlatform {
 public:
  using RootedPlatform::RootedPlatform;
  uid_t realUserId() const override { return 0; }
};

std::string gProcessDirectory;  // ROOT/proc/<pid>, removed at exit

void removeProcessDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(gProcessDirectory, ignored);
}

int usage() {
  std::fputs("usage: hlvtool_rooted ROOT [--] [ARGS...]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::error_code error;
  const std::filesystem::path root = std::filesystem::absolute(argv[1], error);
  if (error || !std::filesystem::is_directory(root)) {
    std::fprintf(stderr, "hlvtool_rooted: %s is not a directory\n", argv[1]);
    return 2;
  }

  // The tool finds its directory through /proc/<pid>/exe.
  gProcessDirectory = (root / "proc" / std::to_string(getpid())).string();
  std::filesystem::create_directories(gProcessDirectory, error);
  std::filesystem::create_symlink(root / "tool" / "hlvflashupdate", gProcessDirectory + "/exe",
                                  error);
  if (error) {
    std::fprintf(stderr, "hlvtool_rooted: cannot create %s/exe: %s\n", gProcessDirectory.c_str(),
                 error.message().c_str());
    removeProcessDirectory();
    return 2;
  }
  std::atexit(removeProcessDirectory);

  // The session is torn down among the exit-time destructors, after main returns, and may still
  // reach the platform then: the platform layer keeps it until after that teardown.
  hlv::platform::install(std::make_unique<RootedMachine>(root.string()));

  int first = 2;
  if (first < argc && std::strcmp(argv[first], "--") == 0) ++first;
  static char programName[] = "hlvflashupdate";
  std::vector<char*> toolArguments;
  toolArguments.push_back(programName);
  for (int i = first; i < argc; ++i)
    toolArguments.push_back(argv[i]);
  toolArguments.push_back(nullptr);
  return hlv::programMain(static_cast<int>(toolArguments.size() - 1), toolArguments.data());
}
