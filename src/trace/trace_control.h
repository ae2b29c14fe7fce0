// The session's handle on the trace file.
#pragma once

#include <memory>
#include <string>

namespace hlv::trace {

class TraceControl {
 public:
  virtual ~TraceControl() = default;
  // Starts tracing into the log directory; reports whether the session may go on.
  virtual bool start(const std::string& logDirectory) = 0;
  virtual void stop() = 0;

  std::string name;
};

class TraceControlInt : public TraceControl {
 public:
  // Opens logDirectory + "voflashupdatelog.etl". Tracing problems never stop the tool, so this
  // returns true in every case.
  bool start(const std::string& logDirectory) override;
  void stop() override;
};

inline constexpr const char* kTraceFileName = "voflashupdatelog.etl";

// A TraceControlInt named "VoFlashUpdateTrace".
std::unique_ptr<TraceControl> createTraceControl();

}  // namespace hlv::trace
