// hlvbench: what a full silent update costs, against the flash's own physics and against
// flashrom's dummy programmer. Run by scripts/bench; BENCHMARKS.md explains every figure.
//
//   hlvbench [--quick]       every scenario, the load, and the comparison with flashrom
//   hlvbench record LAB SHADOW REPORT [--] ARGS...
//                            (internal) runs the tool on LAB with ARGS, recording its register
//                            stream and replaying it on SHADOW (see recording_platform.h)
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/program_entry.h"
#include "bench/bench_lab.h"
#include "bench/child_process.h"
#include "bench/flashrom_comparison.h"
#include "bench/recording_platform.h"
#include "bench/scenario_run.h"
#include "platform/platform.h"

namespace hlv::bench {
namespace {

int recordCommand(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: hlvbench record LAB SHADOW REPORT [--] ARGS...\n");
    return 2;
  }
  Result<std::unique_ptr<sim::Lab>> lab = sim::Lab::open(argv[2]);
  Result<std::unique_ptr<sim::Lab>> shadow = sim::Lab::open(argv[3]);
  if (!lab || !shadow) {
    std::fprintf(stderr, "hlvbench: %s\n", (!lab ? lab.error() : shadow.error()).c_str());
    return 1;
  }
  const std::string root = (*lab)->root();
  // The tool finds its directory through /proc/self/exe, which the lab's platform resolves
  // under the lab.
  const std::string proc = root + "/proc/" + std::to_string(getpid());
  std::filesystem::create_directories(proc);
  std::filesystem::create_symlink(root + "/tool/hlvflashupdate", proc + "/exe");
  platform::install(
      std::make_unique<RecordingPlatform>(std::move(*lab), std::move(*shadow), argv[4]));

  std::vector<std::string> toolArgs{root + "/tool/hlvflashupdate"};
  int next = 5;
  if (next < argc && std::strcmp(argv[next], "--") == 0) ++next;
  toolArgs.insert(toolArgs.end(), argv + next, argv + argc);
  std::vector<char*> toolArgv;
  for (std::string& arg : toolArgs)
    toolArgv.push_back(arg.data());
  toolArgv.push_back(nullptr);
  return programMain(static_cast<int>(toolArgs.size()), toolArgv.data());
}

}  // namespace
}  // namespace hlv::bench

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "record") == 0) return hlv::bench::recordCommand(argc, argv);
  const bool quick = argc == 2 && std::strcmp(argv[1], "--quick") == 0;
  if (argc > 2 || (argc == 2 && !quick)) {
    std::fprintf(stderr, "usage: hlvbench [--quick]\n");
    return 2;
  }
  return hlv::bench::runBenchmark(quick);
}
