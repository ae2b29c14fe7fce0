// hlvsim run LAB [--uid N] [--] [ARGS...]: the whole tool program on the lab's emulated machine.
// hlvsim query LAB [--uid N] [--] [ARGS...]: hlvquery there, the lab's tool directory its own.
#include <charconv>
#include <vector>

#include "app/program_entry.h"
#include "app/query_entry.h"
#include "tools/hlvsim/commands.h"
#include "tools/hlvsim/lab_session.h"

namespace hlv::sim::tool {

namespace {

int runOnLab(const Arguments& args, const char* command, const char* program,
             int (*entry)(int, char**)) {
  if (args.empty()) {
    complain(std::string("usage: hlvsim ") + command + " LAB [--uid N] [--] [ARGS...]");
    return kExitUsage;
  }
  std::size_t next = 1;
  uid_t userId = 0;
  if (next < args.size() && args[next] == "--uid") {
    unsigned value = 0;
    const std::string& text = next + 1 < args.size() ? args[next + 1] : std::string();
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
      complain("--uid needs a user number");
      return kExitUsage;
    }
    userId = value;
    next += 2;
  }
  if (next < args.size() && args[next] == "--") ++next;

  const Result<LabSession*> session = LabSession::open(args[0], userId);
  if (!session) {
    complain(session.error());
    return kExitFailed;
  }
  if (const Result<> linked = (*session)->linkToolExecutable(); !linked) {
    complain(linked.error());
    return kExitFailed;
  }

  std::vector<std::string> toolArgs;
  toolArgs.push_back((*session)->lab().root() + "/tool/" + program);
  toolArgs.insert(toolArgs.end(), args.begin() + static_cast<std::ptrdiff_t>(next), args.end());
  std::vector<char*> argv;
  for (std::string& arg : toolArgs)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  // The session stays installed after the entry returns: the tool's teardown still runs.
  return entry(static_cast<int>(toolArgs.size()), argv.data());
}

}  // namespace

int runCommand(const Arguments& args) {
  return runOnLab(args, "run", "hlvflashupdate", &programMain);
}

int queryCommand(const Arguments& args) {
  return runOnLab(args, "query", "hlvquery", &queryMain);
}

}  // namespace hlv::sim::tool
