#include "app/update_session.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <utility>

#include "app/adapter_table.h"
#include "app/exit_status.h"
#include "app/rollback_procedure.h"
#include "app/run_report_trace.h"
#include "app/update_procedure.h"
#include "app/update_session_trace.h"
#include "platform/interrupt_hold.h"
#include "platform/platform.h"
#include "trace/log_directory.h"
#include "update/direct_flash_update.h"

namespace hlv {
namespace tp = trace_points::update_session;

SessionSteps defaultSessionSteps() {
  SessionSteps steps;
  steps.loadAdapters = [](UpdateSession& session) { return session.loadAdapters(); };
  steps.showAdapterTable = &showAdapterTable;
  steps.selectAdapterForUpdate = [](const std::vector<AdapterEntry>& entries) {
    return selectAdapterForUpdate(entries);
  };
  steps.rollbackSelection = [](UpdateSession& session) { return rollbackSelection(session); };
  steps.updateAdapter = [](const AdapterEntry& entry, const trace::LogDirectory& logDirectory,
                           AdapterOutcome& outcome) {
    return updateAdapter(entry, logDirectory, &outcome);
  };
  steps.openUpdater = &openUpdater;
  steps.makeImageChecker = []() -> std::unique_ptr<VoFlUpdateIface> {
    return std::make_unique<DirectFlashUpdate>();
  };
  return steps;
}

DriverControl::~DriverControl() {
  if (installed) uninstallDriver(2);
}

uint32_t DriverControl::installDriver() {
  installed = true;
  trace::emit(tp::kDriverInstalled);
  return 0;
}

bool DriverControl::uninstallDriver(uint32_t mode) {
  trace::emit(tp::kDriverUninstalled, mode);
  return true;
}

UpdateSession::UpdateSession(std::string toolDirectory, SessionOptions options, SessionSteps steps)
    : options_(std::move(options)),
      steps_(std::move(steps)),
      toolDirectory_(std::move(toolDirectory)),
      traceControl_(trace::createTraceControl()),
      started_(std::time(nullptr)) {
  trace::emit(tp::kCreated, toolDirectory_);
}

UpdateSession::~UpdateSession() {
  // The report goes out with the trace: after a normal end as after an interrupt, whose exit
  // tears the session down too.
  writeReport();
  // The trace control is destroyed without being stopped: the trace file stays open for the
  // records written later in the process's exit.
  trace::emit(tp::kTeardown);
}

AdapterOutcome* UpdateSession::outcomeOf(std::size_t position) {
  if (position >= adapters_.size()) return nullptr;
  if (outcomes_.size() < adapters_.size()) outcomes_.resize(adapters_.size());
  return &outcomes_[position];
}

void UpdateSession::recordExitStatus(int exitStatus, bool unexpectedFailure) {
  // As the shell sees it.
  exitStatus_ = exitStatus & 0xFF;
  if (unexpectedFailure) end_ = RunEnd::kUnexpectedFailure;
}

void UpdateSession::recordInterrupt(int signalNumber) {
  end_ = RunEnd::kInterrupted;
  interruptSignal_ = signalNumber;
  exitStatus_ = kExitInterrupted;
}

uint32_t UpdateSession::ended(RunEnd end, uint32_t result) {
  end_ = end;
  return result;
}

bool UpdateSession::writeReport() {
  if (reportWritten_ || !logDirectory_.isOpen()) return false;
  reportWritten_ = true;
  // Nothing of the report may end the teardown: a failure to make it is only traced.
  try {
    RunFacts facts;
    facts.hostName = hostName();
    facts.started = started_;
    facts.ended = std::time(nullptr);
    facts.silent = options_.silent;
    facts.rollback = options_.rollback;
    facts.adapterName = options_.adapterName;
    facts.logDirectory = logDirectory_.path();
    facts.end = end_;
    facts.exitStatus = exitStatus_;
    facts.interruptSignal = interruptSignal_;
    facts.entries = &adapters_;
    facts.outcomes = &outcomes_;
    facts.nowNs = platform::current().monotonicNanoseconds();
    return writeRunReport(logDirectory_, formatRunReport(facts)) == 0;
  } catch (const std::exception& failure) {
    trace::emit(trace_points::run_report::kNotFormatted, failure.what());
    return false;
  }
}

bool UpdateSession::initialize() {
  instanceLock_.reset();
  instanceLock_ = acquireInstanceLock();
  if (!instanceLock_) {
    const int error = errno;
    std::printf("[!] Couldn't create event (code: %u)! \n", static_cast<unsigned>(error));
    trace::emit(tp::kLockNotCreated, error);
    return false;
  }
  if (!instanceLock_->isFirst) {
    // The semaphore belongs to the other instance; the lock holds none, so it removes nothing.
    std::puts("[!] Another instance of the tool is running. ");
    trace::emit(tp::kAnotherInstance);
    return false;
  }

  platform::FileProblem problem;
  logDirectory_ = trace::makeLogDirectory(toolDirectory_, problem);
  if (!logDirectory_.isOpen()) {
    std::printf("[!] Couldn't initialize directory for log files (code: %u) \n",
                static_cast<unsigned>(problem.error));
    // Which path is not used, and why: a directory that is not the tool's own to write in is
    // something the operator has to look at.
    std::fflush(stdout);
    std::fprintf(stderr, "[!] Log directory '%s' %s \n", problem.path.c_str(),
                 problem.reason.c_str());
    trace::emit(tp::kLogDirectoryFailed, problem.error);
    return false;
  }
  // Tracing problems never stop the session.
  if (!traceControl_->start(logDirectory_.run())) trace::emit(tp::kTraceNotStarted);
  // What became of the lock (a foreign lock file or marker removed, a stale marker taken over)
  // happened before there was a trace to tell it to.
  instanceLock_->writeHistory();

  trace::emit(tp::kOptions, options_.silent, options_.rollback, options_.adapterName);
  driverControl_.installDriver();
  trace::emit(tp::kInitialized, logDirectory_.path());
  return true;
}

uint32_t UpdateSession::run() {
  const bool initialized = initialize();
  // The steps of the session are checkpoints for the operator's interrupt; this first one also
  // ends a run whose trace file's open gave way to it.
  platform::interruptCheckpoint();
  if (!initialized) {
    trace::emit(tp::kInitializeFailed);
    return kSessionInitializeFailed;
  }
  const uint32_t loaded = steps_.loadAdapters(*this);
  platform::interruptCheckpoint();
  if (loaded != 0) {
    trace::emit(tp::kAdapterListFailed, loaded);
    return ended(
        loaded == kSessionDatabaseNotLoaded ? RunEnd::kDatabaseNotLoaded : RunEnd::kNoAdapterFound,
        loaded);
  }
  outcomes_.assign(adapters_.size(), AdapterOutcome{});

  if (options_.rollback) {
    const uint32_t result = steps_.rollbackSelection(*this);
    trace::emit(tp::kRollbackFinished, result);
    // The rollback's quit at the prompt is its own result 41, as is a refused confirmation.
    const bool rollbackRan = std::any_of(outcomes_.begin(), outcomes_.end(),
                                         [](const AdapterOutcome& o) { return o.attempted; });
    return ended(rollbackRan ? RunEnd::kRollbackDone : RunEnd::kOperatorQuit, result);
  }

  steps_.showAdapterTable(adapters_, false);
  const bool anyAvailable = std::any_of(
      adapters_.begin(), adapters_.end(),
      [](const AdapterEntry& entry) { return entry.status == AdapterStatus::Available; });
  if (!anyAvailable) {
    std::puts("No adapters can be updated ");
    trace::emit(tp::kNoAdapterAvailable);
    return ended(RunEnd::kNoAdapterAvailable, kSessionNoAdapterAvailable);
  }

  std::size_t chosen = findAdapterByName();
  if (!options_.silent) {
    std::puts("*** Important notice *** ");
    std::puts("The network connection may be dropped during the update process. ");
    std::puts("Please complete all network activity before updating.\n ");
    if (chosen >= adapters_.size()) {
      chosen = steps_.selectAdapterForUpdate(adapters_);
      if (chosen >= adapters_.size()) {
        trace::emit(tp::kOperatorQuit);
        return ended(RunEnd::kOperatorQuit, kSessionOperatorQuit);
      }
    }
  } else if (chosen < adapters_.size()) {
    std::printf("Silent mode: selected device '%s' \n", adapters_[chosen].name().c_str());
  } else if (options_.adapterName.empty()) {
    std::puts("Silent mode: all devices will be updated ");
    chosen = 0;
  } else {
    std::printf("Silent mode: adapter with name '%s' not found \n", options_.adapterName.c_str());
    std::puts("Silent mode: update aborted ");
    trace::emit(tp::kSilentAdapterNotFound, options_.adapterName);
    return ended(RunEnd::kAdapterNotFound, kSessionAdapterNotFound);
  }

  std::puts(" ");
  trace::emit(tp::kFirstAdapter, static_cast<uint64_t>(chosen));

  // Only silent mode without a name goes on past the chosen entry.
  const bool updateAll = options_.silent && options_.adapterName.empty();
  uint32_t result = 0;
  uint32_t lastFailure = 0;
  bool problems = false;
  for (std::size_t i = chosen; i < adapters_.size(); ++i) {
    platform::interruptCheckpoint();
    const AdapterEntry& entry = adapters_[i];
    if (entry.status != AdapterStatus::Available) {
      trace::emit(tp::kEntrySkipped, entry.index, static_cast<uint32_t>(entry.status));
    } else {
      result = steps_.updateAdapter(entry, logDirectory_, *outcomeOf(i));
      trace::emit(tp::kProcedureFinished, entry.index, result);
      if (result != 0) {
        problems = true;
        lastFailure = result;
      }
    }
    if (!updateAll) break;
  }

  // A failure followed by a success must not end the run with 0: the exit status reports the
  // last failure whenever the summary reports problems.
  if (problems) result = lastFailure;
  end_ = RunEnd::kUpdatesDone;
  platform::interruptCheckpoint();
  trace::emit(tp::kSummary, problems, result);
  if (problems) {
    std::puts("\n!!! There were some problems updating one or more adapters. ");
    std::puts("   Please send update logs to the vendor. ");
    std::printf("   Logs location: '%s' \n", logDirectory_.path().c_str());
  } else {
    std::puts("\nFirmware update finished! ");
  }
  return result;
}

}  // namespace hlv
