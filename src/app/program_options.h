// The process-wide options: what the command line asked for, and the run's session.
#pragma once

#include <memory>
#include <string>

namespace hlv {

class UpdateSession;

// Exactly one exists, gProgramOptions, built before the program's entry runs and destroyed at
// process exit. Building it enables tracing, so trace points are live from process start.
// Destroying it tears the session down and then disables tracing; because that happens among
// the exit-time destructors, it also happens when the process ends through exit() after an
// interrupt.
struct ProgramOptions {
  ProgramOptions();
  ~ProgramOptions();
  ProgramOptions(const ProgramOptions&) = delete;
  ProgramOptions& operator=(const ProgramOptions&) = delete;

  std::unique_ptr<UpdateSession> session;
  bool silent = false;      // -s: no confirmation, no prompts, every compatible adapter
  bool help = false;        // -h or -?
  bool rollback = false;    // -r: offer the previous firmware instead of an update
  std::string adapterName;  // -a NAME: the adapter to act on
};

// Defined in the translation unit of the program's entry, so that linking the entry links it.
extern ProgramOptions gProgramOptions;

}  // namespace hlv
