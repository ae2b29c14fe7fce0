#include "tests/soak/soak_driver.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/support/reference_layout.h"
#include "tests/soak/soak_reading.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hlvsim_lab.h"
#include "tools/hlvtrace/trace_decoder.h"

namespace hlv::test::soak {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kNcb1 = 0x4000;
constexpr uint32_t kFirstBank = 0x8000;  // the control blocks lie below

const char* actionName(Action action) {
  switch (action) {
    case Action::kSilentAll:
      return "silent update";
    case Action::kSilentOne:
      return "silent update of one adapter";
    case Action::kInteractiveNumber:
      return "interactive update by number";
    case Action::kInteractiveName:
      return "interactive update by name";
    case Action::kRollbackName:
      return "rollback by name";
    case Action::kRollbackNumber:
      return "rollback by number";
    case Action::kRollbackDeclined:
      return "rollback declined";
    case Action::kTableOnly:
      return "table, then quit";
  }
  return "?";
}

bool isRollback(Action action) {
  return action == Action::kRollbackName || action == Action::kRollbackNumber ||
         action == Action::kRollbackDeclined;
}

bool isOneAdapter(Action action) {
  return action != Action::kSilentAll && action != Action::kTableOnly;
}

struct Step {
  uint64_t number = 0;
  Action action = Action::kSilentAll;
  std::size_t adapter = 0;  // the adapter a one-adapter action names
  uint32_t bundle = 0;      // soakVersion(bundle) is in the tool directory
  std::vector<Fault> faults;
  RunOptions options;

  bool armed(FaultKind kind) const {
    return std::any_of(faults.begin(), faults.end(),
                       [&](const Fault& f) { return f.kind == kind; });
  }
  bool armedOn(std::size_t i, bool (*which)(FaultKind)) const {
    return std::any_of(faults.begin(), faults.end(),
                       [&](const Fault& f) { return f.adapter == i && which(f.kind); });
  }
  bool armedOn(std::size_t i, FaultKind kind) const {
    return std::any_of(faults.begin(), faults.end(),
                       [&](const Fault& f) { return f.adapter == i && f.kind == kind; });
  }
  bool anySignal() const {
    return armed(FaultKind::kSignalAtTime) || armed(FaultKind::kSignalAtCommand) ||
           armed(FaultKind::kSignalAtGrant);
  }
};

// An adapter's flash as a run found or left it, read the tests' way.
struct FlashState {
  std::vector<uint8_t> bytes;
  FlashReading reader;      // the block readers take
  RollbackTarget previous;  // the block a rollback returns to
};

// The whole file, read at once into `bytes` (flash files are megabytes: the buffer is reused).
void readWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  long size = -1;
  if (file != nullptr && std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  if (size <= 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    bytes.clear();
  } else {
    // Resized only when the size differs: a buffer of the right size is read over as it is.
    bytes.resize(static_cast<std::size_t>(size));
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  }
  if (file != nullptr) std::fclose(file);
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  readWholeFile(path, bytes);
  return bytes;
}

// Reads the flash file into the state's buffer and reads the flash.
void examine(const std::string& path, FlashState& state) {
  readWholeFile(path, state.bytes);
  state.reader = readAsReader(state.bytes);
  state.previous = readRollbackTarget(state.bytes);
}

// What the soak knows of an adapter between runs.
struct AdapterState {
  FirmwareVersion running = kStartVersion;
  // The block readers take is broken: a cut tore an erase inside the unguardable window (of an
  // update, which nothing can finish, or of a rollback, which its backup finishes).
  bool broken = false;
  bool brokenByUpdate = false;
  // A rollback was cut while it rewrote the previous block: the backup its journal names holds
  // the flash it started from, whose previous firmware the next rollback finishes with.
  std::optional<FlashState> resumeFrom;
  std::set<FirmwareVersion> history;  // every firmware its flash held or was given
  uint64_t chain = 0;                 // runs in a row that hit it with a fault
  RunExtent update{300, 300000, 3000000};
  RunExtent rollback{8, 100000, 1000000};
};

// Whether the block at `address` describes a free area: the old type-1 layout.
bool hasFreeArea(const std::vector<uint8_t>& flash, uint32_t address) {
  return (flash[address + 0x5F] | flash[address + 0x60] | flash[address + 0x61]) != 0;
}

bool isErase(uint8_t opcode) {
  return opcode == 0x20 || opcode == 0x50 || opcode == 0x52 || opcode == 0x7C || opcode == 0xD8;
}

std::string hex(uint64_t value) {
  std::ostringstream out;
  out << "0x" << std::hex << value;
  return out.str();
}

std::vector<std::string> directoryNames(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator entry(path, error), end; !error && entry != end;
       entry.increment(error))
    names.push_back(entry->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Soak {
 public:
  explicit Soak(const SoakOptions& options)
      : Soak(options, [&] {
          SoakRandom random(options.seed);
          return drawLab(random, options.adapters, options.largeParts);
        }()) {}

  Soak(const SoakOptions& options, const SoakLabPlan& plan)
      : options_(options),
        random_(options.seed ^ 0x5EED),
        plan_(plan),
        lab_(directory_, plan_.spec),
        states_(plan.adapters.size()) {
    for (AdapterState& state : states_) {
      state.history.insert(kStartVersion);
      state.history.insert(kStartPrevious);
    }
    flashes_.resize(states_.size());
    for (std::size_t i = 0; i < states_.size(); ++i)
      examine(flashPath(i), flashes_[i]);
    useBundle(0);
  }

  SoakFigures run() {
    uint64_t sinceLiveness = 0;
    while (figures_.steps < options_.steps) {
      if (sinceLiveness >= options_.quietEvery) {
        checkLiveness();
        sinceLiveness = 0;
        reportFigures();
        continue;
      }
      Step step = drawStep();
      runStep(step);
      ++sinceLiveness;
    }
    checkLiveness();
    return figures_;
  }

  void reportFigures() {
    if (options_.figures == nullptr || options_.figuresEvery == 0) return;
    if (figures_.steps < reportedAt_ + options_.figuresEvery) return;
    reportedAt_ = figures_.steps;
    *options_.figures << "figures after " << figures_.steps << " runs:\n"
                      << figures_.summary() << std::flush;
  }

  SoakFigures replay(const std::vector<ScriptedRun>& runs) {
    for (const ScriptedRun& run : runs)
      runScripted(run);
    checkLiveness();
    return figures_;
  }

  void runScripted(const ScriptedRun& run) {
    replaying_ = true;
    Step step;
    step.number = figures_.steps + 1;
    step.action = run.action;
    step.adapter = run.adapter;
    if (!isRollback(run.action)) useBundle(run.bundle);
    step.bundle = bundle_;
    step.options = optionsFor(run.action, run.adapter);
    step.faults = run.faults;
    runStep(step);
  }

  const SoakFigures& figures() const { return figures_; }
  // The adapter's counters of the last run (empty when it wrote none), and whether the block
  // readers take is broken inside the unguardable window.
  std::string stats(std::size_t i) const {
    const std::string path = adapterDirectory(i) + "/stats";
    return fileExists(path) ? readFile(path) : "";
  }
  bool broken(std::size_t i) const { return states_[i].broken; }
  std::vector<uint8_t> flashBytes(std::size_t i) const { return flashes_[i].bytes; }

  // The lab as it started: this flash for every adapter, no logs, nothing learnt of its runs (the
  // figures go on counting).
  void restart(const std::vector<uint8_t>& flash) {
    std::error_code ignored;
    fs::remove_all(lab_.root() + "/tool/logs", ignored);
    for (std::size_t i = 0; i < states_.size(); ++i) {
      writeBinaryFile(flashPath(i), flash);
      states_[i] = AdapterState{};
      states_[i].history = {kStartVersion, kStartPrevious, soakVersion(bundle_)};
      examine(flashPath(i), flashes_[i]);
    }
  }

 private:
  std::string name(std::size_t i) const { return lab_.spec().adapters[i].name; }
  std::string label() const {
    return replaying_ ? "replay" : "seed " + std::to_string(options_.seed);
  }
  bool typeTwo(std::size_t i) const { return plan_.adapters[i].typeTwoModel; }

  // Whether the adapter would be offered the bundle's firmware, as far as the soak knows.
  bool offeredUpdate(std::size_t i) const {
    return !states_[i].broken && states_[i].running < soakVersion(bundle_);
  }
  bool offeredRollback(std::size_t i) const {
    return states_[i].resumeFrom.has_value() || flashes_[i].previous.valid;
  }

  std::size_t chooseAdapter(bool rollback) {
    std::vector<std::size_t> preferred;
    for (std::size_t i = 0; i < states_.size(); ++i) {
      if (rollback ? offeredRollback(i) : offeredUpdate(i)) preferred.push_back(i);
    }
    if (!preferred.empty() && random_.percent(85)) return random_.pick(preferred);
    return random_.below(states_.size());
  }

  Step drawStep() {
    Step step;
    step.number = figures_.steps + 1;
    struct Weighted {
      Action action;
      uint64_t weight;
    };
    const Weighted weights[] = {
        {Action::kSilentAll, 30},         {Action::kSilentOne, 10},
        {Action::kInteractiveNumber, 12}, {Action::kInteractiveName, 8},
        {Action::kRollbackName, 18},      {Action::kRollbackNumber, 10},
        {Action::kRollbackDeclined, 4},   {Action::kTableOnly, 3},
    };
    uint64_t draw = random_.below(95);
    for (const Weighted& w : weights) {
      if (draw < w.weight) {
        step.action = w.action;
        break;
      }
      draw -= w.weight;
    }
    if (!isRollback(step.action)) {
      // Newer, the same or older than the bundle now in the tool directory.
      const uint64_t which = random_.below(100);
      if (which < 35) {
        useBundle(newest_ + 1);
      } else if (which >= 80 && bundle_ > 0) {
        useBundle(
            static_cast<uint32_t>(random_.between(bundle_ > 3 ? bundle_ - 3 : 0, bundle_ - 1)));
      }
    }
    step.bundle = bundle_;
    step.adapter = chooseAdapter(isRollback(step.action));
    step.options = optionsFor(step.action, step.adapter);

    // One or two faults now and then; more often right after a run that was hit, so that the
    // run that recovers from a fault is hit too.
    const uint64_t odds = random_.below(100);
    const std::size_t count = lastFaulted_ ? (odds < 30   ? 0
                                              : odds < 75 ? 1
                                                          : 2)
                                           : (odds < 55   ? 0
                                              : odds < 88 ? 1
                                                          : 2);
    for (std::size_t n = 0; n < count; ++n) {
      const std::size_t target = isOneAdapter(step.action) && random_.percent(70)
                                     ? step.adapter
                                     : random_.below(states_.size());
      const AdapterState& state = states_[target];
      step.faults.push_back(drawFault(random_, target,
                                      isRollback(step.action) ? state.rollback : state.update,
                                      options_.bitLevelTears));
    }
    return step;
  }

  void useBundle(uint32_t bundle) {
    if (bundle != bundle_ || !bundleInstalled_) {
      for (bool typeTwoModel : {false, true}) {
        writeBinaryFile(lab_.root() + "/tool/" + bundleImageFile(typeTwoModel),
                        image(soakVersion(bundle), typeTwoModel));
      }
      bundleInstalled_ = true;
    }
    bundle_ = bundle;
    newest_ = std::max(newest_, bundle);
    for (AdapterState& state : states_)
      state.history.insert(soakVersion(bundle_));
  }

  RunOptions optionsFor(Action action, std::size_t adapter) const {
    const std::string name = this->name(adapter);
    const std::string number = std::to_string(adapter + 1);
    switch (action) {
      case Action::kSilentAll:
        return {.args = {"-s"}};
      case Action::kSilentOne:
        return {.args = {"-s", "-a", name}};
      case Action::kInteractiveNumber:
        return {.input = "y\n" + number + "\n"};
      case Action::kInteractiveName:
        return {.args = {"-a", name}, .input = "y\n"};
      case Action::kRollbackName:
        return {.args = {"-r", "-a", name}, .input = "y\ny\n"};
      case Action::kRollbackNumber:
        return {.args = {"-r"}, .input = "y\n" + number + "\ny\n"};
      case Action::kRollbackDeclined:
        return {.args = {"-r", "-a", name}, .input = "y\nn\n"};
      case Action::kTableOnly:
        return {.input = "y\nq\n"};
    }
    return {};
  }

  void runStep(Step& step) {
    ++figures_.steps;
    const std::size_t count = states_.size();
    for (std::size_t i = 0; i < count; ++i) {
      std::string lines;
      for (const Fault& fault : step.faults) {
        if (fault.adapter == i) lines += fault.conf;
      }
      lab_.setAddedConf(i, lines);
      std::error_code ignored;
      fs::remove(adapterDirectory(i) + "/stats", ignored);
    }
    for (const char* file : {"/bind", "/unbind"})
      writeFile(lab_.root() + "/sys/bus/pci/drivers/halvern" + file, "");
    // The flashes as the last run left them; the buffers of the run before take this one's.
    std::vector<FlashState> before;
    before.swap(flashes_);
    flashes_.swap(spare_);
    flashes_.resize(count);
    const std::vector<std::string> logsBefore = directoryNames(lab_.root() + "/tool/logs");

    step.options.keepInstanceMarker = true;
    const ProcessResult result = lab_.run(step.options);

    for (const Fault& fault : step.faults)
      ++figures_.faults[static_cast<std::size_t>(fault.kind)];
    if (!step.faults.empty()) ++figures_.faultedSteps;
    lastFaulted_ = !step.faults.empty();
    ++figures_.exitStatuses[result.signal != 0 ? -result.signal : result.exitStatus];

    for (std::size_t i = 0; i < count; ++i)
      examine(flashPath(i), flashes_[i]);
    std::vector<std::string> broken;
    judge(step, result, before, logsBefore, broken);
    if (options_.log != nullptr) {
      *options_.log << "run " << step.number << ": " << describe(step) << " -> "
                    << (result.signal != 0 ? "signal " + std::to_string(result.signal)
                                           : "status " + std::to_string(result.exitStatus))
                    << (broken.empty() ? "" : " BROKEN") << "\n";
      if (std::getenv("HLV_SOAK_OUTPUT") != nullptr) {
        *options_.log << result.out << result.err;
        for (std::size_t i = 0; i < count; ++i) {
          if (fileExists(adapterDirectory(i) + "/stats"))
            *options_.log << name(i) << " stats:\n" << readFile(adapterDirectory(i) + "/stats");
        }
      }
    }
    for (const std::string& what : broken) {
      figures_.breaks.push_back(label() + ", run " + std::to_string(step.number) + " (" +
                                describe(step) + "): " + what + "\n--- output:\n" + result.out +
                                result.err);
    }
    if (!broken.empty()) keep(step, before, result);
    spare_ = std::move(before);
    pruneLogs();
  }

  // Every run leaves the whole flash of each adapter it worked on in its log directory: a long
  // soak would fill its disk. The older run directories go, unless a rollback cut short waits
  // for the backup its journal names.
  void pruneLogs() {
    constexpr std::size_t kKept = 2;
    const bool resumePending = std::any_of(states_.begin(), states_.end(),
                                           [](const AdapterState& s) { return s.resumeFrom; });
    if (resumePending) return;
    const std::string logs = lab_.root() + "/tool/logs/";
    const std::vector<std::string> runs = directoryNames(logs);
    if (runs.size() <= kKept) return;
    std::error_code ignored;
    for (std::size_t i = 0; i + kKept < runs.size(); ++i)
      fs::remove_all(logs + runs[i], ignored);
  }

  std::string describe(const Step& step) const {
    std::string text = actionName(step.action);
    if (isOneAdapter(step.action)) text += " of " + name(step.adapter);
    if (!isRollback(step.action)) text += ", bundle " + versionText(soakVersion(step.bundle));
    for (const Fault& fault : step.faults)
      text += "; " + fault.describe();
    return text;
  }

  std::string adapterDirectory(std::size_t i) const {
    return lab_.root() + "/adapters/" + lab_.bdf(i);
  }
  std::string flashPath(std::size_t i) const { return adapterDirectory(i) + "/flash.bin"; }

  // The bundle's image of that version, kept while it is among the newest made (a long soak
  // goes through thousands of versions, each image a whole flash's size; an older one is made
  // again if a run asks for it).
  const std::vector<uint8_t>& image(FirmwareVersion version, bool typeTwoModel) {
    constexpr std::size_t kImagesKept = 16;
    const auto key = std::make_pair(version, typeTwoModel);
    auto found = images_.find(key);
    if (found == images_.end()) {
      if (images_.size() >= kImagesKept) images_.erase(images_.begin());
      found = images_.emplace(key, bundleImageBytes(version, typeTwoModel)).first;
    }
    return found->second;
  }

  std::optional<std::size_t> adapterNamed(const std::string& name) const {
    for (std::size_t i = 0; i < states_.size(); ++i) {
      if (this->name(i) == name) return i;
    }
    return std::nullopt;
  }

  void keep(const Step& step, const std::vector<FlashState>& before, const ProcessResult& result) {
    if (options_.keepDirectory.empty()) return;
    const std::string where = options_.keepDirectory + "/seed" + std::to_string(options_.seed) +
                              "-run" + std::to_string(step.number);
    std::error_code ignored;
    fs::remove_all(where, ignored);
    fs::create_directories(where, ignored);
    fs::copy(lab_.root(), where + "/lab",
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, ignored);
    for (std::size_t i = 0; i < before.size(); ++i)
      writeBinaryFile(where + "/before-" + lab_.bdf(i) + ".bin", before[i].bytes);
    std::string args;
    for (const std::string& arg : step.options.args)
      args += arg + " ";
    writeFile(where + "/run.txt", describe(step) + "\nargs: " + args +
                                      "\ninput: " + step.options.input + "\n--- output:\n" +
                                      result.out + result.err);
  }

  // The firmware a block of the bundle holds for adapter i.
  FirmwareVersion bundleVersion(const Step& step) const { return soakVersion(step.bundle); }

  void judge(const Step& step, const ProcessResult& result, const std::vector<FlashState>& before,
             const std::vector<std::string>& logsBefore, std::vector<std::string>& broken);
  void judgeFiles(bool killed, int exitStatus, const std::vector<FlashState>& before,
                  const std::vector<std::string>& logsBefore, std::vector<std::string>& broken);
  void checkLiveness();

  SoakOptions options_;
  SoakRandom random_;
  SoakLabPlan plan_;
  TempDir directory_;
  Lab lab_;
  std::vector<AdapterState> states_;
  uint32_t bundle_ = 0;  // the bundle in the tool directory
  uint32_t newest_ = 0;  // the newest bundle made so far
  bool lastFaulted_ = false;
  bool replaying_ = false;
  uint64_t reportedAt_ = 0;  // the runs when the figures were last reported
  bool bundleInstalled_ = false;
  std::vector<FlashState> flashes_;  // as the last run left them
  std::vector<FlashState> spare_;    // buffers for the next run's
  std::vector<uint8_t> backup_;      // a backup's bytes
  std::map<std::pair<FirmwareVersion, bool>, std::vector<uint8_t>> images_;
  SoakFigures figures_;
};

void Soak::judge(const Step& step, const ProcessResult& result,
                 const std::vector<FlashState>& before, const std::vector<std::string>& logsBefore,
                 std::vector<std::string>& broken) {
  const std::size_t count = states_.size();
  const bool killed = result.signal == SIGKILL;
  const ConsoleSeen seen = readConsole(result.out);
  const bool rollbackMode = isRollback(step.action);
  auto fail = [&](const std::string& what) { broken.push_back(what); };

  if (result.signal != 0 && !(killed && step.armed(FaultKind::kKill)))
    fail("the tool ended by signal " + std::to_string(result.signal));
  if (seen.anotherInstance) fail("the run was refused as another instance");

  std::vector<std::string> stats(count);
  std::vector<bool> hasStats(count, false);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string path = adapterDirectory(i) + "/stats";
    if (fileExists(path)) {
      stats[i] = readFile(path);
      hasStats[i] = true;
    } else if (!killed) {
      fail(name(i) + ": no counters after a run that was not killed");
    }
  }

  // The adapter table, against the flashes as the run found them.
  for (const TableRow& row : seen.table) {
    const std::optional<std::size_t> found = adapterNamed(row.name);
    if (!found || row.number != *found + 1) {
      fail("table row " + std::to_string(row.number) + " names " + row.name);
      continue;
    }
    const std::size_t i = *found;
    const bool unreadable = step.armedOn(i, makesUnreadable);
    const FlashReading& reading = before[i].reader;
    if (unreadable || !reading.usable) {
      if (row.status != "Not available")
        fail(name(i) + " is shown as '" + row.status + "', though it cannot be read");
      continue;
    }
    if (row.firmware != versionText(reading.version))
      fail(name(i) + " is shown running " + row.firmware + ", its flash runs " +
           versionText(reading.version));
    if (rollbackMode) {
      const RollbackTarget& target = before[i].previous;
      if (row.status.starts_with("Available: ")) {
        const std::optional<FirmwareVersion> offered = parseVersion(row.status.substr(11));
        if (!target.valid) {
          fail(name(i) + " is offered a rollback to " + row.status.substr(11) +
               ", but its previous block is not a valid target: " + target.problem);
        } else if (!offered || *offered != target.version) {
          fail(name(i) + " is offered a rollback to " + row.status.substr(11) +
               ", its previous block holds " + versionText(target.version));
        }
      } else if (target.valid) {
        fail(name(i) + " keeps a valid previous block (" + versionText(target.version) +
             ") that is not offered");
      }
    } else {
      const FirmwareVersion offered = bundleVersion(step);
      const std::string expected =
          offered > reading.version ? "Available: " + versionText(offered) : "Not required";
      if (row.status != expected)
        fail(name(i) + " is shown as '" + row.status + "', expected '" + expected + "'");
    }
  }

  // What the run did to each adapter, and what its flash may hold now.
  std::vector<const UpdateBlockSeen*> blockOf(count, nullptr);
  for (const UpdateBlockSeen& block : seen.blocks) {
    const std::optional<std::size_t> i = adapterNamed(block.name);
    if (!i) {
      fail("a block for an adapter named " + block.name);
      continue;
    }
    blockOf[*i] = &block;
    // A signal taken during the backup read ends the run before the backup is saved, and before
    // anything is written: the block is left open at its backup line.
    const bool endedInBackup = step.anySignal() && !block.backupOk && result.exitStatus == 41;
    if (!block.closed && !killed && !endedInBackup)
      fail(block.name + ": its block was never closed");
  }
  const std::size_t rolledBack = step.adapter;

  for (std::size_t i = 0; i < count; ++i) {
    AdapterState& state = states_[i];
    const std::vector<uint8_t>& after = flashes_[i].bytes;
    const std::vector<uint8_t>& beforeBytes = before[i].bytes;
    const FlashReading& was = before[i].reader;
    const FlashReading& now = flashes_[i].reader;
    const std::string who = name(i) + ": ";
    const bool updating = blockOf[i] != nullptr;
    // Output not flushed is lost with a killed run: the rollback may have begun once its backup
    // line was shown.
    const bool rollingBack = rollbackMode && i == rolledBack &&
                             (seen.rollback.performed || (killed && seen.rollback.backupShown));
    std::optional<FirmwareVersion> target;
    const FlashState* resumeSource = nullptr;
    if (updating) target = bundleVersion(step);
    if (rollingBack) {
      if (seen.rollback.interruptedFound && state.resumeFrom) {
        resumeSource = &*state.resumeFrom;
        target = resumeSource->previous.version;
      } else {
        target = before[i].previous.version;
      }
    }

    // Faults that struck this adapter's flash.
    const bool cutStruck = hasStats[i] && stats[i].find("power_cut = yes") != std::string::npos;
    if (cutStruck) ++figures_.cutsThatStruck;
    const bool flashFaulted = step.armedOn(i, hitsFlashCommands);

    if (!updating && !rollingBack) {
      if (after != beforeBytes) fail(who + "the run did not work on it, yet its flash changed");
    } else if (!now.usable) {
      // Readers take a broken block: only an erase torn at bit level may leave that, where it
      // erased a block that readers do not take but take once its state bits read active.
      const uint8_t opcode =
          hasStats[i] ? static_cast<uint8_t>(statValue(stats[i], "power_cut_opcode")) : 0;
      const uint64_t address =
          hasStats[i] ? static_cast<uint64_t>(statValue(stats[i], "power_cut_address")) : 0;
      // That is: NCB0's state bits read active over a block that is not whole, while NCB1 reads
      // active and whole over the firmware the run found (whether NCB0 was deactivated before
      // the run, or its state cleared in place by it, as a transform does). A run also killed
      // wrote no counters to say which command the cut struck.
      const bool cutInNcb0 = hasStats[i] ? cutStruck && isErase(opcode) && address < kNcb1 : killed;
      const FlashReading ncb1 = readBlockAsReader(after, kNcb1);
      const bool window = step.armedOn(i, FaultKind::kTornCutBits) && cutInNcb0 &&
                          blockReadsActive(after, 0) && blockReadsActive(after, kNcb1) &&
                          ncb1.usable && was.usable && ncb1.version == was.version;
      if (window) {
        const std::string operation =
            rollingBack ? "rollback"
                        : (hasFreeArea(beforeBytes, was.activeAddress) ? "update of a type-1 layout"
                                                                       : "update");
        ++figures_.windowHits[operation + ", erase " + hex(opcode) + " at " + hex(address) +
                              " (NCB0) while NCB1 is the block readers take"];
        state.broken = true;
        // A rollback's journal names the backup that finishes it; nothing records an update's.
        state.brokenByUpdate = !rollingBack;
        if (rollingBack && !state.resumeFrom) state.resumeFrom = before[i];
      } else {
        fail(who + "readers take no valid block: " + now.problem);
      }
    } else if (now.version != was.version && (!target || now.version != *target)) {
      fail(who + "its flash runs " + versionText(now.version) +
           ", neither the firmware before the "
           "run (" +
           (was.usable ? versionText(was.version) : was.problem) + ") nor the one it brought");
    }
    if (now.usable) state.broken = false;

    // The previous block: a valid rollback target holds a firmware the adapter had.
    const RollbackTarget& previous = flashes_[i].previous;
    if (previous.valid && !state.history.contains(previous.version))
      fail(who + "its previous block holds " + versionText(previous.version) +
           ", a firmware it never had");

    // What the console says happened must be what the flash shows.
    if (updating) {
      const UpdateBlockSeen& block = *blockOf[i];
      if (block.updateResult == 0u) {
        if (!now.usable || now.version != *target) {
          fail(who + "\"Updating... [OK]\", but its flash runs " +
               (now.usable ? versionText(now.version) : now.problem));
        } else if (was.usable) {
          ReferenceGeometry geometry;
          if (plan_.adapters[i].part.starts_with("1F27")) geometry.pageSize = 512;
          const std::vector<uint8_t> expected = referenceUpdate(
              beforeBytes, image(*target, typeTwo(i)), macBytes(), phyBytes(), geometry);
          if (after != expected) fail(who + "updated, but not as the layout's rules say");
        }
      } else if (block.updateResult) {
        if (!flashFaulted)
          fail(who + "the update failed (" + std::to_string(*block.updateResult) +
               ") without a fault on its flash");
      }
      if (block.closed && !block.backupOk && !killed)
        fail(who + "its backup failed without a fault");
      if (block.closed && !block.backupOk && after != beforeBytes)
        fail(who + "its backup failed, yet its flash changed");
      if (block.reloadOk == false &&
          !plan_.adapters[i].firmwareConf.starts_with("firmware = none") &&
          !step.armedOn(i, FaultKind::kFirmwareStuck) && !step.armedOn(i, FaultKind::kPhyStuck) &&
          !step.armedOn(i, FaultKind::kMdioHeld) && !flashFaulted)
        fail(who + "its firmware reload failed without a fault");
      if (block.driverOk == false) fail(who + "its driver could not be restarted");
    }
    if (rollbackMode && i == rolledBack) {
      const RollbackSeen& r = seen.rollback;
      const RollbackTarget& target0 = before[i].previous;
      if (r.interruptedFound && !state.resumeFrom)
        fail(who + "the run finished an interrupted rollback the soak did not expect");
      if (r.questionPrevious) {
        const FirmwareVersion expected = r.interruptedFound && state.resumeFrom
                                             ? state.resumeFrom->previous.version
                                             : target0.version;
        if (*r.questionPrevious != expected)
          fail(who + "the rollback shows the previous firmware " +
               versionText(*r.questionPrevious) + ", expected " + versionText(expected));
      }
      const bool unreadable = step.armedOn(i, makesUnreadable);
      if (r.notPossible && target0.valid && was.usable && !unreadable)
        fail(who + "\"Backup firmware not found\", though its previous block is valid");
      if (r.notPossible && state.resumeFrom && !unreadable)
        fail(who + "\"Backup firmware not found\", though a cut rollback's backup finishes it");
      if (r.performed && r.finished && !r.failedIndex && !killed) {
        const std::vector<uint8_t> expected =
            referenceRollback(resumeSource != nullptr ? resumeSource->bytes : beforeBytes);
        if (after != expected) fail(who + "rolled back, but not as the layout's rules say");
      }
      if (r.failedIndex && !flashFaulted)
        fail(who + "the rollback failed without a fault on its flash");
    }

    // The counters of a run that ended by itself.
    if (hasStats[i]) {
      if (stats[i].find("semaphore_held_at_exit = yes") != std::string::npos)
        fail(who + "a hardware semaphore is left held");
      if (statValue(stats[i], "unclaimed_accesses") != 0)
        fail(who + "registers no block claims were accessed");
      const bool stuck = step.armedOn(i, FaultKind::kFlashStuck) ||
                         step.armedOn(i, FaultKind::kPartStuck) ||
                         step.armedOn(i, FaultKind::kEngineStuck);
      if (statValue(stats[i], "violations") != 0 && !stuck)
        fail(who + "the adapter counted protocol violations");
      // How much such a run takes, for the faults drawn against the next ones.
      RunExtent extent{static_cast<uint64_t>(statValue(stats[i], "modifying_transfers")),
                       static_cast<uint64_t>(statValue(stats[i], "commands")),
                       static_cast<uint64_t>(statValue(stats[i], "virtual_us"))};
      if (!cutStruck && !flashFaulted && step.faults.empty()) {
        if (updating && blockOf[i]->updateResult == 0u) state.update = extent;
        if (rollingBack) state.rollback = extent;
      }
    }

    // The next runs' expectations.
    if (now.usable) {
      state.running = now.version;
      state.history.insert(now.version);
    }
    if (rollingBack && now.usable && was.usable && now.version == was.version) {
      // A rollback cut while it rewrote the previous block loses that block on the flash; the
      // backup its journal names finishes it (a cut resumed rollback names the same backup).
      if (after != beforeBytes) {
        const bool lost = !flashes_[i].previous.valid;
        if (lost && !state.resumeFrom && before[i].previous.valid) {
          state.resumeFrom = before[i];
        } else if (!lost) {
          state.resumeFrom.reset();
        }
      }
    } else if (after != beforeBytes && !(state.broken && !state.brokenByUpdate)) {
      // Anything else that changed the flash leaves nothing for the backup to finish, but a
      // rollback cut inside the window, whose backup still finishes it.
      state.resumeFrom.reset();
    }
    const bool hit = std::any_of(step.faults.begin(), step.faults.end(),
                                 [&](const Fault& f) { return f.adapter == i; });
    state.chain = hit ? state.chain + 1 : 0;
    if (broken.empty()) figures_.longestChain = std::max(figures_.longestChain, state.chain);
  }

  // The exit status, for what happened.
  if (!killed && result.signal == 0) {
    const int status = result.exitStatus;
    std::string why;
    bool allowed = false;
    if (status == 41) {
      const bool quitAsked = step.action == Action::kTableOnly ||
                             step.action == Action::kRollbackDeclined ||
                             (step.action == Action::kInteractiveNumber && seen.invalidInput);
      allowed = step.anySignal() || quitAsked;
      why = "interrupted or quit without a signal or a quit";
    } else if (status == 0) {
      if (rollbackMode) {
        allowed = seen.rollback.performed && seen.rollback.finished && !seen.rollback.failedIndex;
      } else {
        allowed = !seen.problems &&
                  std::all_of(seen.blocks.begin(), seen.blocks.end(),
                              [](const UpdateBlockSeen& b) { return b.updateResult == 0u; });
      }
      why = "success, but something failed";
    } else if (status == 2) {
      allowed = rollbackMode ? seen.rollback.notPossible : seen.nothingToUpdate;
      why = "2 without \"nothing to update\" or \"no previous firmware\"";
    } else {
      if (rollbackMode) {
        allowed = seen.rollback.failedIndex.has_value() || seen.rollback.backupOk == false;
      } else {
        uint32_t last = 0;
        for (const UpdateBlockSeen& block : seen.blocks) {
          if (!block.backupOk) last = 4;  // a backup failure, whatever its code
          if (block.updateResult && *block.updateResult != 0) last = *block.updateResult;
        }
        allowed = last != 0 && (static_cast<uint32_t>(status) == last || last == 4);
      }
      why = "a failure status without the failure that gives it";
    }
    if (status != 0 && seen.updateFinished)
      fail("\"Firmware update finished!\" with status " + std::to_string(status));
    if (!allowed) fail("exit status " + std::to_string(status) + ": " + why);

    // Every driver the run unbound was bound again.
    const std::string bind = readFile(lab_.root() + "/sys/bus/pci/drivers/halvern/bind");
    const std::string unbind = readFile(lab_.root() + "/sys/bus/pci/drivers/halvern/unbind");
    if (bind != unbind) fail("driver left unbound: unbind '" + unbind + "', bind '" + bind + "'");
  }
  if (lab_.instanceMarker().held) fail("no run is alive, yet the single-instance marker is held");
  judgeFiles(killed, result.exitStatus, before, logsBefore, broken);
}

void Soak::judgeFiles(bool killed, int exitStatus, const std::vector<FlashState>& before,
                      const std::vector<std::string>& logsBefore,
                      std::vector<std::string>& broken) {
  const std::string logs = lab_.root() + "/tool/logs";
  for (const std::string& run : directoryNames(logs)) {
    if (std::binary_search(logsBefore.begin(), logsBefore.end(), run)) continue;
    const std::string directory = logs + "/" + run + "/";
    bool reported = false;
    for (const std::string& file : directoryNames(directory)) {
      const std::string path = directory + file;
      if (file == "voflashupdatelog.etl") {
        if (killed) continue;  // records still in memory are lost with the process
        const trace::DecodeResult decoded = trace::decodeTrace(readWholeFile(path));
        if (!decoded.ok || decoded.records.empty())
          broken.push_back("the trace " + run + "/" + file +
                           " cannot be decoded: " + decoded.error);
        continue;
      }
      if (file.ends_with(".incomplete")) {
        // Only a run killed while it wrote a backup may leave one, under a name that says so.
        if (!killed) broken.push_back("a run that was not killed left " + run + "/" + file);
        continue;
      }
      if (file == "report.json") {
        // Written whole or not at all; a run that ended on its own says how it ended.
        const nlohmann::json report = nlohmann::json::parse(readFile(path), nullptr, false);
        if (report.is_discarded() || !report.is_object()) {
          broken.push_back("the report " + run + "/" + file + " is not whole JSON");
        } else if (!killed && report.value("exit_status", -1) != exitStatus) {
          broken.push_back("the report " + run + "/" + file + " gives exit status " +
                           report.value("exit_status", nlohmann::json()).dump() +
                           ", the run ended with " + std::to_string(exitStatus));
        }
        reported = true;
        continue;
      }
      if (file == "rollback.journal") {
        if (readFile(path).empty()) broken.push_back("an empty journal " + run + "/" + file);
        continue;
      }
      std::optional<std::size_t> adapter;
      for (std::size_t i = 0; i < states_.size(); ++i) {
        const std::string prefix = "image_" + name(i);
        if (file.starts_with(prefix + ".") || file.starts_with(prefix + "_")) adapter = i;
      }
      if (!adapter || !file.ends_with(".bin")) {
        broken.push_back("an unexpected file " + run + "/" + file);
        continue;
      }
      // A file under a backup's name is the whole flash as the run found it.
      readWholeFile(path, backup_);
      if (backup_ != before[*adapter].bytes) {
        broken.push_back("the backup " + run + "/" + file + " (" + std::to_string(backup_.size()) +
                         " bytes) is not the flash as the run found it");
      }
    }
    // Only a run killed outright may end without its report.
    if (!reported && !killed) broken.push_back("the run " + run + " left no report.json");
  }
}

void Soak::checkLiveness() {
  ++figures_.livenessChecks;
  figures_.leftInWindow = static_cast<uint64_t>(
      std::count_if(states_.begin(), states_.end(),
                    [](const AdapterState& s) { return s.broken && s.brokenByUpdate; }));
  const std::size_t count = states_.size();
  // First what the operator's guide says of a rollback cut short: the next rollback finishes it.
  for (std::size_t i = 0; i < count; ++i) {
    if (!states_[i].resumeFrom) continue;
    Step step;
    step.number = figures_.steps + 1;
    step.action = Action::kRollbackName;
    step.adapter = i;
    step.bundle = bundle_;
    step.options = {.args = {"-r", "-a", name(i)}, .input = "y\ny\n"};
    runStep(step);
  }
  useBundle(newest_ + 1);
  for (uint64_t runs = 1; runs <= 2; ++runs) {
    Step step;
    step.number = figures_.steps + 1;
    step.action = Action::kSilentAll;
    step.bundle = bundle_;
    step.options = {.args = {"-s"}};
    runStep(step);
    // An adapter an update's cut left broken inside the window cannot be brought back by the
    // tool: it is counted, and left out.
    const bool done = std::all_of(states_.begin(), states_.end(), [&](const AdapterState& s) {
      return (s.broken && s.brokenByUpdate) || (!s.broken && s.running == soakVersion(bundle_));
    });
    if (done) {
      figures_.maxRunsToNewest = std::max(figures_.maxRunsToNewest, runs);
      return;
    }
  }
  std::string left;
  for (std::size_t i = 0; i < count; ++i) {
    const FlashReading& reading = flashes_[i].reader;
    if (states_[i].broken && states_[i].brokenByUpdate) continue;
    if (!reading.usable || reading.version != soakVersion(bundle_))
      left += " " + name(i) + " (" +
              (reading.usable ? versionText(reading.version) : reading.problem) + ")";
  }
  figures_.breaks.push_back(label() + ", liveness check before run " +
                            std::to_string(figures_.steps + 1) +
                            ": two runs without faults did not bring every adapter to " +
                            versionText(soakVersion(bundle_)) + ":" + left);
}

}  // namespace

TearSweep sweepBitLevelTears(const std::string& operation, const AdapterPlan& adapter,
                             const ScriptedRun& run, uint64_t eraseSeeds) {
  TearSweep sweep;
  sweep.operation = operation;
  // One lab, put back as it started before each cut.
  Soak soak(SoakOptions{}, labOf({adapter}));
  const std::vector<uint8_t> start = soak.flashBytes(0);
  soak.runScripted(run);
  sweep.commands =
      static_cast<uint64_t>(std::max(0LL, statValue(soak.stats(0), "modifying_transfers")));
  for (uint64_t n = 1; n <= sweep.commands; ++n) {
    // A program torn at bit level is a program torn, and an erase of a bank is no block's: two
    // seeds. An erase inside the control blocks, several.
    uint64_t seeds = 2;
    for (uint64_t seed = 1; seed <= seeds; ++seed) {
      soak.restart(start);
      ScriptedRun cut = run;
      cut.faults = {scriptedFault(FaultKind::kTornCutBits, 0,
                                  "power_cut_after = " + std::to_string(n) +
                                      "\npower_cut_torn = yes\nseed = " + std::to_string(seed) +
                                      "\ntorn_erase = bits\n")};
      soak.runScripted(cut);
      ++sweep.cuts;
      const std::string stats = soak.stats(0);
      const auto opcode = static_cast<uint8_t>(statValue(stats, "power_cut_opcode"));
      const auto address = static_cast<uint32_t>(statValue(stats, "power_cut_address"));
      if (seed == 1 && isErase(opcode) && address < kFirstBank) seeds = std::max(seeds, eraseSeeds);
      if (soak.broken(0)) {
        const std::string what = "command " + std::to_string(n) + " (" +
                                 (isErase(opcode) ? "erase " : "program ") + hex(opcode) + " at " +
                                 hex(address) + "), seed " + std::to_string(seed);
        sweep.breakingCuts.push_back(what);
        // The operator's next run: the same request again.
        ScriptedRun next = run;
        next.faults = {};
        soak.runScripted(next);
        if (soak.broken(0)) sweep.unrecovered.push_back(what);
      }
    }
  }
  sweep.figures = soak.figures();
  return sweep;
}

void SoakFigures::add(const SoakFigures& other) {
  steps += other.steps;
  faultedSteps += other.faultedSteps;
  for (std::size_t i = 0; i < faults.size(); ++i)
    faults[i] += other.faults[i];
  cutsThatStruck += other.cutsThatStruck;
  longestChain = std::max(longestChain, other.longestChain);
  livenessChecks += other.livenessChecks;
  leftInWindow += other.leftInWindow;
  maxRunsToNewest = std::max(maxRunsToNewest, other.maxRunsToNewest);
  for (const auto& [where, hits] : other.windowHits)
    windowHits[where] += hits;
  for (const auto& [status, runs] : other.exitStatuses)
    exitStatuses[status] += runs;
  breaks.insert(breaks.end(), other.breaks.begin(), other.breaks.end());
}

std::string SoakFigures::summary() const {
  std::ostringstream out;
  out << "runs of the tool: " << steps << " (" << faultedSteps << " hit by faults)\n";
  out << "faults injected by kind:\n";
  for (std::size_t i = 0; i < faults.size(); ++i)
    out << "  " << faultName(static_cast<FaultKind>(i)) << ": " << faults[i] << "\n";
  out << "power cuts that struck a command: " << cutsThatStruck << "\n";
  out << "longest chain of faulted runs one adapter survived: " << longestChain << "\n";
  out << "liveness checks: " << livenessChecks << " (at most " << maxRunsToNewest
      << " runs to the newest firmware)\n";
  out << "exit statuses:";
  for (const auto& [status, runs] : exitStatuses)
    out << " " << (status < 0 ? "signal " + std::to_string(-status) : std::to_string(status))
        << " x" << runs;
  out << "\n";
  out << "bit-level tears inside the unguardable window: " << (windowHits.empty() ? "none" : "")
      << "\n";
  for (const auto& [where, hits] : windowHits)
    out << "  " << where << ": " << hits << "\n";
  out << "adapters an update's cut left broken inside the window (nothing finishes it): "
      << leftInWindow << "\n";
  out << "invariant breaks: " << breaks.size() << "\n";
  return out.str();
}

SoakFigures runSoak(const SoakOptions& options) {
  Soak soak(options);
  return soak.run();
}

Fault scriptedFault(FaultKind kind, std::size_t adapter, const std::string& conf) {
  return {.kind = kind, .adapter = adapter, .at = 0, .seed = 0, .conf = conf};
}

SoakFigures replay(const SoakLabPlan& lab, const std::vector<ScriptedRun>& runs,
                   std::ostream* log) {
  SoakOptions options;
  options.log = log;
  Soak soak(options, lab);
  return soak.replay(runs);
}

}  // namespace hlv::test::soak
