// Captures the trace records written during a test and decodes them with the trace decoder.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tools/hlvtrace/trace_decoder.h"
#include "trace/trace_sink.h"

namespace hlv::test {

class TraceCapture {
 public:
  TraceCapture() {
    trace::traceEnable("test");
    trace::traceOpen(dir_ / "trace.etl");
  }
  ~TraceCapture() { trace::traceClose(); }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  // Ends the capture and gives one decoded line per record ("9248:8:1 table.kPoint: message").
  std::vector<std::string> lines() {
    trace::traceClose();
    const std::vector<uint8_t> data = readBinaryFile(dir_ / "trace.etl");
    const trace::DecodeResult decoded = trace::decodeTrace(data);
    EXPECT_TRUE(decoded.ok) << decoded.error;
    return decoded.lines;
  }

 private:
  TempDir dir_;
};

// The lines that start with the given record identifiers, such as "9248:8:1 ".
inline std::vector<std::string> linesOf(const std::vector<std::string>& lines,
                                        const std::string& identifiers) {
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (line.rfind(identifiers, 0) == 0) found.push_back(line);
  }
  return found;
}

}  // namespace hlv::test
