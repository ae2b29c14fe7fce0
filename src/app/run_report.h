// The run report: "report.json" in the run's log directory, what the run did in a form a script
// can read. It is written once, on the way out (after the summary, or when an interrupt ends the
// run), whole or not at all: under a temporary name, flushed, then given its name, which is never
// taken from another file.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "app/adapter_entry.h"
#include "app/adapter_outcome.h"
#include "trace/log_directory.h"

namespace hlv {

inline constexpr const char* kRunReportFileName = "report.json";
// The version of the report's layout; it grows only when a field changes its meaning or goes.
inline constexpr unsigned kRunReportSchemaVersion = 1;

// How the session ended, which says what its exit status means.
enum class RunEnd : uint8_t {
  kNotEnded,            // nothing recorded how the run ended
  kDatabaseNotLoaded,   // 9
  kNoAdapterFound,      // 42
  kNoAdapterAvailable,  // 2
  kAdapterNotFound,     // 3: silent mode, -a names no adapter
  kOperatorQuit,        // 41: q, or the end of input, at the adapter prompt
  kUpdatesDone,         // the last failing update's result, or 0
  kRollbackDone,        // the rollback's result
  kInterrupted,         // 41: a signal ended the run
  kUnexpectedFailure,   // 255
};

// Everything the report says, gathered by the session.
struct RunFacts {
  std::string hostName;
  std::time_t started = 0;
  std::time_t ended = 0;
  bool silent = false;
  bool rollback = false;
  std::string adapterName;
  std::string logDirectory;
  RunEnd end = RunEnd::kNotEnded;
  std::optional<int> exitStatus;  // as the shell sees it, 0 to 255
  int interruptSignal = 0;        // the signal that ended the run, when one did
  const std::vector<AdapterEntry>* entries = nullptr;
  // Per entry, by position; may be shorter than the entries.
  const std::vector<AdapterOutcome>* outcomes = nullptr;
  // The monotonic clock when the report is made: the end of a procedure an interrupt cut short.
  uint64_t nowNs = 0;
};

// The report's JSON text, with a line feed at its end. Texts that are not UTF-8 (names read from
// sysfs or the database are bytes) have each malformed sequence replaced by U+FFFD.
std::string formatRunReport(const RunFacts& facts);

// "YYYY-MM-DDTHH:MM:SSZ" of that time, UTC.
std::string isoUtcTime(std::time_t when);

// The machine's host name; empty when it cannot be had.
std::string hostName();

// Writes the text as the run's report. 0, or the errno of the step that failed; a report that
// failed after its file was made is removed.
int writeRunReport(const trace::LogDirectory& directory, const std::string& text);

}  // namespace hlv
