// The lab a hlvsim command works on, which is also the platform of the process.
//
// The tool program tears its session down among the exit-time destructors, after its entry
// function has returned or from exit() (the interrupt path), and that teardown may still unmap
// register windows and reach the emulated adapters. The session is therefore installed as the
// process's platform, which the platform layer keeps until after that teardown; when it is
// destroyed at last, it writes the counters of every adapter and removes what it created.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

#include "shared/result.h"
#include "sim/lab.h"
#include "sim/lab_platform.h"

namespace hlv::sim::tool {

class LabSession final : public LabPlatform {
 public:
  // Opens the lab at root and installs it as the platform for the rest of the process (userId is
  // what the program sees as its user). The session stays the platform's; this is not an owner.
  static Result<LabSession*> open(const std::string& root, uid_t userId);
  ~LabSession() override;

  Lab& lab() { return *lab_; }

  // Creates LAB/proc/<pid>/exe pointing at LAB/tool/hlvflashupdate; removed with the session.
  Result<> linkToolExecutable();

 private:
  LabSession(std::unique_ptr<Lab> lab, uid_t userId);

  std::unique_ptr<Lab> lab_;
  std::string procDirectory_;  // LAB/proc/<pid> once the link exists
};

}  // namespace hlv::sim::tool
