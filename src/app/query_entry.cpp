#include "app/query_entry.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "app/adapter_query.h"
#include "app/instance_lock.h"
#include "app/query_output.h"
#include "app/run_report.h"
#include "app/tool_directory.h"
#include "platform/platform.h"
#include "update/direct_flash_update.h"

namespace hlv {
namespace {

constexpr int kQueryDone = 0;
constexpr int kQueryFailed = 1;
constexpr int kQueryUsage = 2;

constexpr const char* kUsage =
    "usage: hlvquery [--bundle DIR] [--json] [--prometheus FILE]\n"
    "       hlvquery --history [--json]\n"
    "       hlvquery -h\n"
    "Lists the machine's adapters as hlvflashupdate sees them, each flash's state and, with\n"
    "--bundle, what that bundle would offer each one; writes nothing to any adapter.\n"
    "  --bundle DIR       also the bundle's verdict, image and signing-key answer per adapter\n"
    "  --json             one JSON object instead of the table\n"
    "  --prometheus FILE  also write node_exporter textfile metrics to FILE, atomically\n"
    "  --history          the runs recorded under logs/ (from their report.json)\n"
    "  -h, --help         this text\n";

struct QueryOptions {
  std::string bundle;
  bool json = false;
  std::string prometheus;
  bool history = false;
};

bool parse(const std::vector<std::string>& args, QueryOptions& options) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      options.json = true;
    } else if (arg == "--history") {
      options.history = true;
    } else if ((arg == "--bundle" || arg == "--prometheus") && i + 1 < args.size() &&
               !args[i + 1].empty()) {
      (arg == "--bundle" ? options.bundle : options.prometheus) = args[++i];
    } else {
      return false;
    }
  }
  return !(options.history && (!options.bundle.empty() || !options.prometheus.empty()));
}

void print(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

int runQuery(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
    std::fputs(kUsage, stdout);
    return kQueryDone;
  }
  QueryOptions options;
  if (!parse(args, options)) {
    std::fputs(kUsage, stderr);
    return kQueryUsage;
  }
  if (platform::current().realUserId() != 0) {
    std::fputs("hlvquery: root privileges are needed to read the adapters\n", stderr);
    return kQueryFailed;
  }
  const std::string toolDirectory = findToolDirectory();
  if (options.history) {
    const std::vector<RecordedRun> runs =
        toolDirectory.empty() ? std::vector<RecordedRun>() : readRunHistory(toolDirectory);
    print(options.json ? formatHistoryJson(runs) : formatHistoryText(runs));
    return kQueryDone;
  }

  // The same lock as the tool: no query reads an adapter while a run works on it.
  const std::unique_ptr<InstanceLock> lock = acquireInstanceLock();
  if (!lock || !lock->isFirst) {
    std::fputs("hlvquery: another instance of the tool is running\n", stderr);
    return kQueryFailed;
  }
  MachineQuery query;
  std::string problem;
  if (!queryMachine(options.bundle, &openUpdater, query, problem)) {
    std::fprintf(stderr, "hlvquery: %s\n", problem.c_str());
    return kQueryFailed;
  }
  print(options.json ? formatQueryJson(query, hostName(), std::time(nullptr))
                     : formatQueryTable(query));
  if (!options.prometheus.empty()) {
    const std::vector<RecordedRun> runs =
        toolDirectory.empty() ? std::vector<RecordedRun>() : readRunHistory(toolDirectory);
    if (writeMetricsFile(options.prometheus, formatPrometheus(query, runs), problem) != 0) {
      std::fprintf(stderr, "hlvquery: %s\n", problem.c_str());
      return kQueryFailed;
    }
  }
  return kQueryDone;
}

}  // namespace

int queryMain(int argc, char** argv) {
  try {
    return runQuery(argc, argv);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "hlvquery: unexpected failure: %s\n", failure.what());
    return kQueryFailed;
  }
}

}  // namespace hlv
