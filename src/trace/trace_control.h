// The session's handle on the trace file.
#pragma once

#include <memory>
#include <string>

#include "platform/directory.h"

namespace hlv::trace {

class TraceControl {
 public:
  virtual ~TraceControl() = default;
  // Starts tracing into the run's log directory; reports whether the session may go on.
  virtual bool start(const platform::Directory& logDirectory) = 0;
  virtual void stop() = 0;

  std::string name;
};

class TraceControlInt : public TraceControl {
 public:
  // Creates "voflashupdatelog.etl" in the log directory, new, and traces into it. Tracing
  // problems never stop the tool (the sink says on standard error when the trace cannot be
  // written), so this returns true in every case.
  bool start(const platform::Directory& logDirectory) override;
  void stop() override;
};

inline constexpr const char* kTraceFileName = "voflashupdatelog.etl";

// A TraceControlInt named "VoFlashUpdateTrace".
std::unique_ptr<TraceControl> createTraceControl();

}  // namespace hlv::trace
