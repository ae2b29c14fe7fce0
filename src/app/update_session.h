// One run of the tool: the single-instance lock, the run's log directory and trace, the adapter
// list, the dialogue (table, choice, procedures) and the closing summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/adapter_entry.h"
#include "app/adapter_outcome.h"
#include "app/instance_lock.h"
#include "app/run_report.h"
#include "trace/log_directory.h"
#include "trace/trace_control.h"
#include "update/voflupdateiface.h"

namespace hlv {

class UpdateSession;

// What the command line asked of the session.
struct SessionOptions {
  bool silent = false;
  bool rollback = false;
  std::string adapterName;
};

// The operations the session runs on its adapter list. The defaults are the program's own;
// tests substitute theirs to drive the dialogue with adapters and procedures of their making.
struct SessionSteps {
  // Builds session.adapters(); 0 on success, otherwise the session's result.
  std::function<uint32_t(UpdateSession& session)> loadAdapters;
  std::function<void(const std::vector<AdapterEntry>& entries, bool rollbackMode)> showAdapterTable;
  // The chosen position, or the number of entries when the operator quits.
  std::function<std::size_t(const std::vector<AdapterEntry>& entries)> selectAdapterForUpdate;
  std::function<uint32_t(UpdateSession& session)> rollbackSelection;
  // Records what it did in `outcome` as it goes.
  std::function<uint32_t(const AdapterEntry& entry, const trace::LogDirectory& logDirectory,
                         AdapterOutcome& outcome)>
      updateAdapter;
  // Used by the program's adapter list: gives an adapter its update interface and answers whether
  // it is ready, and makes the update interface bound to no adapter that checks image files.
  std::function<bool(AdapterInfo& adapter)> openUpdater;
  std::function<std::unique_ptr<VoFlUpdateIface>()> makeImageChecker;
};

SessionSteps defaultSessionSteps();

// Records, in the trace, that the session "installed" the driver side when it began and
// "uninstalls" it at its teardown. Nothing is installed: the registers are reached through
// sysfs. Not to be mistaken for the device layer's driver restart (restartDriver in
// device/driver_control.h), which unbinds and binds an adapter's kernel driver after an update.
class DriverControl {
 public:
  virtual ~DriverControl();             // uninstallDriver(2) when installed
  uint32_t installDriver();             // always 0
  bool uninstallDriver(uint32_t mode);  // does nothing; true

  bool installed = false;
};

class UpdateSession {
 public:
  // Stores the tool directory (ending in "/") and creates the trace control; prints nothing.
  UpdateSession(std::string toolDirectory, SessionOptions options,
                SessionSteps steps = defaultSessionSteps());
  // The teardown: the run report (when the run has its log directory), the adapter entries, the
  // driver control, the trace control, then the lock (which removes the single-instance
  // semaphore).
  ~UpdateSession();
  UpdateSession(const UpdateSession&) = delete;
  UpdateSession& operator=(const UpdateSession&) = delete;

  // The whole dialogue; the result becomes the process exit status (see exit_status.h).
  uint32_t run();

  // The lock, the log directory and the start of the trace; false after a console message.
  bool initialize();

  // The program's adapter list (adapter_list.cpp): 0, or the session's result.
  uint32_t loadAdapters();

  // Position of the first entry whose adapter name equals the -a name byte for byte; the
  // number of entries when no name was given or none matches.
  std::size_t findAdapterByName() const;

  const SessionOptions& options() const { return options_; }
  const std::string& toolDirectory() const { return toolDirectory_; }
  // The run's log directory; not open before initialize succeeded.
  const trace::LogDirectory& logDirectory() const { return logDirectory_; }
  std::vector<AdapterEntry>& adapters() { return adapters_; }
  const std::vector<AdapterEntry>& adapters() const { return adapters_; }

  // Where the procedure for the entry at that position records what it did; null past the end.
  AdapterOutcome* outcomeOf(std::size_t position);
  // The exit status the program ends with (after an unexpected failure, which ended the run), and
  // that an interrupt (that signal) ends the run: for the run report, which the teardown writes.
  void recordExitStatus(int exitStatus, bool unexpectedFailure = false);
  void recordInterrupt(int signalNumber);
  // Writes the run report now, once; the teardown does it when nobody did before. False when it
  // was not written (no log directory, or a failure, traced).
  bool writeReport();

 private:
  uint32_t ended(RunEnd end, uint32_t result);

  // Members are destroyed in the reverse of this order, which is the teardown order: entries,
  // driver control, trace control, lock, the log directory's descriptors, strings.
  SessionOptions options_;
  SessionSteps steps_;
  std::string toolDirectory_;
  trace::LogDirectory logDirectory_;
  std::unique_ptr<InstanceLock> instanceLock_;
  std::unique_ptr<trace::TraceControl> traceControl_;
  DriverControl driverControl_;
  std::vector<AdapterEntry> adapters_;
  // What the run report tells besides the entries.
  std::time_t started_ = 0;
  std::vector<AdapterOutcome> outcomes_;
  RunEnd end_ = RunEnd::kNotEnded;
  std::optional<int> exitStatus_;
  int interruptSignal_ = 0;
  bool reportWritten_ = false;
};

}  // namespace hlv
