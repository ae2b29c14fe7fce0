// hlvsim rehearse LAB BUNDLE [--json] [--adapter NAME] [--keep]: what the tool would do with
// this bundle on the machine the lab describes. The lab is copied to a scratch directory (the
// lab itself is only read), the bundle becomes the copy's tool directory, the tool runs there in
// silent mode as `hlvsim run` runs it, and its trace, console and flashes are read back into a
// verdict per adapter.
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "shared/sha256.h"
#include "tools/hlvimage/image_report.h"
#include "tools/hlvsim/commands.h"
#include "tools/hlvsim/rehearsal.h"
#include "tools/hlvtrace/trace_decoder.h"

namespace hlv::sim::tool {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: hlvsim rehearse LAB BUNDLE [--json] [--adapter NAME] [--keep]";

struct Options {
  std::string lab;
  std::string bundle;
  bool json = false;
  bool keep = false;
  std::string adapterName;
};

bool parseOptions(const Arguments& args, Options& options) {
  Arguments positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      options.json = true;
    } else if (args[i] == "--keep") {
      options.keep = true;
    } else if (args[i] == "--adapter" && i + 1 < args.size()) {
      options.adapterName = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      return false;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) return false;
  options.lab = positional[0];
  options.bundle = positional[1];
  return true;
}

// Copies the tree at `from` to `to` (which must not exist), symbolic links as links, leaving
// out what `skip` names by its path relative to `from`. Empty on success, else why not.
template <class Skip>
std::string copyTree(const fs::path& from, const fs::path& to, Skip skip) {
  std::error_code error;
  if (!fs::create_directory(to, error)) return to.string() + ": cannot create: " + error.message();
  fs::recursive_directory_iterator entries(from, error);
  if (error) return from.string() + ": cannot be listed: " + error.message();
  for (; entries != fs::recursive_directory_iterator(); entries.increment(error)) {
    if (error) return from.string() + ": cannot be listed: " + error.message();
    const fs::path relative = entries->path().lexically_relative(from);
    if (skip(relative)) {
      entries.disable_recursion_pending();
      continue;
    }
    const fs::path target = to / relative;
    const fs::file_status status = entries->symlink_status(error);
    if (fs::is_symlink(status)) {
      fs::copy_symlink(entries->path(), target, error);
    } else if (fs::is_directory(status)) {
      fs::create_directory(target, error);
    } else if (fs::is_regular_file(status)) {
      fs::copy_file(entries->path(), target, error);
    }
    // Anything else (a pipe a test left, a socket) has no place in a lab and is not copied.
    if (error) return target.string() + ": cannot copy: " + error.message();
  }
  return {};
}

bool readWhole(const fs::path& path, std::string& contents) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

std::string sha256Hex(const std::string& bytes) {
  const std::optional<Sha256Digest> digest =
      sha256({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
  return digest ? hlv::sha256Hex(*digest) : std::string();
}

struct FlashSummary {
  bool present = false;
  std::string bytes;
  std::string text;
  hlv::tool::Json json;
};

FlashSummary summarizeFlash(const fs::path& path) {
  FlashSummary summary;
  if (!readWhole(path, summary.bytes)) return summary;
  summary.present = true;
  const std::span<const uint8_t> contents(
      reinterpret_cast<const uint8_t*>(summary.bytes.data()),
      std::min<std::size_t>(summary.bytes.size(), image::kMaxExamined));
  const image::ImageReport report = image::analyzeImage(contents, summary.bytes.size());
  summary.text = image::formatReportSummary(report);
  summary.json = image::reportSummaryJson(report);
  return summary;
}

// The tool's single-instance key is derived from a file of this name in its working directory
// (where there is none, every run on the machine shares one key).
constexpr const char* kInstanceKeyFile = "5F3A9C12-7B44-4E0D-A1C6-93D2E8B047F1";

// Runs this program's `run` command on the lab in a child process, standard input empty and
// the output in files; the exit status, or -1 when the child ended otherwise. The child works
// in the scratch directory, beside a key file of its own: rehearsals do not wait for each
// other or for the tool, nor make a real run wait.
int runTool(const std::string& lab, const Options& options, const fs::path& scratch,
            const std::string& consolePath, const std::string& errorsPath) {
  const std::string keyFile = (scratch / kInstanceKeyFile).string();
  std::ofstream(keyFile).close();
  std::vector<std::string> args = {"hlvsim", "run", lab, "--", "-s"};
  if (!options.adapterName.empty()) {
    args.push_back("-a");
    args.push_back(options.adapterName);
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    std::vector<char*> argv;
    for (std::string& arg : args)
      argv.push_back(arg.data());
    argv.push_back(nullptr);
    const bool redirected = chdir(scratch.c_str()) == 0 &&
                            std::freopen("/dev/null", "r", stdin) != nullptr &&
                            std::freopen(consolePath.c_str(), "w", stdout) != nullptr &&
                            std::freopen(errorsPath.c_str(), "w", stderr) != nullptr;
    if (redirected) execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  // A run that ended without its teardown leaves its semaphore behind; nobody else uses its key.
  if (const int semaphore = semget(ftok(keyFile.c_str(), 0), 0, 0); semaphore != -1) {
    semctl(semaphore, 0, IPC_RMID);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The trace file of the run: the only log directory of the scratch tool directory holds it.
std::optional<fs::path> findTrace(const fs::path& logs) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(logs, error)) {
    const fs::path trace = entry.path() / "voflashupdatelog.etl";
    if (fs::is_regular_file(trace, error)) return trace;
  }
  return std::nullopt;
}

std::string scratchParent() {
  const char* temporary = std::getenv("TMPDIR");
  return temporary != nullptr && *temporary != '\0' ? temporary : "/tmp";
}

int rehearse(const Options& options, const fs::path& scratch) {
  const fs::path lab = scratch / "lab";
  const fs::path tool = lab / "tool";
  // The lab's own tool directory and its logs, the proc links of a run and the counters of the
  // last one are no part of the machine.
  const std::string copied = copyTree(options.lab, lab, [](const fs::path& relative) {
    const std::string first = relative.begin()->string();
    return first == "tool" || first == "proc" ||
           (first == "adapters" && relative.filename() == "stats");
  });
  const std::string bundled =
      copied.empty()
          ? copyTree(options.bundle, tool,
                     [](const fs::path& relative) { return relative.begin()->string() == "logs"; })
          : copied;
  if (!bundled.empty()) {
    complain(bundled);
    return kExitFailed;
  }

  std::vector<std::pair<std::string, FlashSummary>> before;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(lab / "adapters", error))
    before.emplace_back(entry.path().filename().string(),
                        summarizeFlash(entry.path() / "flash.bin"));

  Rehearsal rehearsal;
  rehearsal.adapterName = options.adapterName;
  const std::string consolePath = (scratch / "console.txt").string();
  const std::string errorsPath = (scratch / "errors.txt").string();
  rehearsal.toolStatus = runTool(lab.string(), options, scratch, consolePath, errorsPath);
  std::string console;
  readWhole(consolePath, console);
  readWhole(errorsPath, rehearsal.errors);

  std::vector<trace::DecodedRecord> records;
  std::string traceBytes;
  const std::optional<fs::path> tracePath = findTrace(tool / "logs");
  if (!tracePath || !readWhole(*tracePath, traceBytes)) {
    rehearsal.traceComplete = false;
    rehearsal.traceProblem = "the run left no trace file";
  } else {
    trace::DecodeResult decoded = trace::decodeTrace(
        {reinterpret_cast<const uint8_t*>(traceBytes.data()), traceBytes.size()});
    rehearsal.traceComplete = decoded.ok;
    rehearsal.traceProblem = decoded.error;
    records = std::move(decoded.records);
  }
  readRun(records, console, rehearsal);

  for (AdapterRehearsal& adapter : rehearsal.adapters) {
    const fs::path directory = lab / "adapters" / adapter.bdf;
    adapter.hasFlash = fs::is_directory(directory, error);
    if (!adapter.hasFlash) {
      adapter.reason = "the lab holds no flash for it: what the tool would do is unknown (" +
                       adapter.reason + ")";
      continue;
    }
    FlashSummary first;
    for (const auto& [bdf, summary] : before) {
      if (bdf == adapter.bdf) first = summary;
    }
    const FlashSummary after = summarizeFlash(directory / "flash.bin");
    adapter.flashBefore = first.present ? first.text : "no flash file (made erased)";
    adapter.flashBeforeJson = first.present ? first.json : hlv::tool::Json(nullptr);
    adapter.flashAfter = after.text;
    adapter.flashAfterJson = after.present ? after.json : hlv::tool::Json(nullptr);
    adapter.flashChanged = !first.present || first.bytes != after.bytes;
    adapter.flashAfterSha256 = sha256Hex(after.bytes);
  }

  const std::string report =
      options.json ? formatRehearsalJson(rehearsal) : formatRehearsalText(rehearsal);
  std::fwrite(report.data(), 1, report.size(), stdout);
  return rehearsal.succeeds() ? kExitOk : kExitFailed;
}

}  // namespace

int rehearseCommand(const Arguments& args) {
  Options options;
  if (!parseOptions(args, options)) {
    complain(kUsage);
    return kExitUsage;
  }
  std::error_code error;
  if (!fs::is_directory(fs::path(options.lab) / "sys", error)) {
    complain(options.lab + ": no lab there (no sys directory)");
    return kExitFailed;
  }
  if (!fs::is_directory(options.bundle, error)) {
    complain(options.bundle + ": not a directory");
    return kExitFailed;
  }
  std::string pattern = scratchParent() + "/hlvsim-rehearse-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    complain(pattern + ": cannot create the scratch directory");
    return kExitFailed;
  }
  const fs::path scratch = pattern;
  const int status = rehearse(options, scratch);
  if (options.keep) {
    std::fprintf(stderr, "hlvsim: the rehearsal's lab is kept in %s\n", (scratch / "lab").c_str());
  } else {
    fs::remove_all(scratch, error);
  }
  return status;
}

}  // namespace hlv::sim::tool
