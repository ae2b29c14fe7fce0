// The process-wide binary trace sink.
//
// A trace file is the plain concatenation of records; all integers little-endian, no padding:
//   u32 component, u32 file, u32 point, then per argument: u32 size, size bytes of value.
// Integers take their natural width; a text takes its length without terminator.
//
// Records are gathered in a buffer of the sink's own and reach the file when it is full, when the
// file is closed and at process exit; no record costs a system call of its own. The trace file is
// always created new. When it cannot be created or written (a full disk), standard error says so
// once, with the file's path and the reason, and later records are dropped: the run goes on, and
// standard output never hears of it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hlv::platform {
class Directory;
}

namespace hlv::trace {

class TraceSink {
 public:
  TraceSink() = default;
  ~TraceSink();  // flushes what is buffered and closes the file
  TraceSink(const TraceSink&) = delete;
  TraceSink& operator=(const TraceSink&) = delete;

  bool isOpen() const { return descriptor_ >= 0; }
  bool enabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }

  // Creates the file `name` in the directory and writes the trace there, after closing the file
  // open before. A name that exists, a link included, is not opened: the sink then has no file
  // and is failed.
  void open(const platform::Directory& directory, const std::string& name);
  // The same for a path (tools and tests; the program makes its trace file in its run's
  // directory): a new file, never one that exists.
  void open(const std::string& path);
  void close();
  // The last open failed, or a write to the file open now failed.
  bool failed() const { return failed_; }

  void writeWord(uint32_t value);
  void writeArg(bool value);
  void writeArg(uint8_t value);
  void writeArg(uint16_t value);
  void writeArg(uint32_t value);
  void writeArg(int32_t value);
  void writeArg(uint64_t value);
  void writeArg(int64_t value);
  void writeArg(std::string_view text);

 private:
  void adopt(int descriptor, std::string path, int error);
  void append(const char* data, std::size_t size);
  void writeLittleEndian(uint64_t value, unsigned bytes);
  // Writes the buffer out; false once the file has failed.
  bool flush();
  // Marks the file failed and says so on standard error, once per file.
  void fail(int error);

  static constexpr std::size_t kBufferSize = 64 * 1024;

  int descriptor_ = -1;
  std::string path_;
  bool enabled_ = false;
  bool failed_ = false;
  bool reported_ = false;
  std::size_t used_ = 0;
  std::array<char, kBufferSize> buffer_{};
};

// The sink, built on first use (thread-safe one-time initialisation) and destroyed at exit,
// which flushes what is buffered and closes the file.
TraceSink& traceSink();

// Sets the enabled flag; the name is accepted and not used.
void traceEnable(const char* providerName);
// Clears the enabled flag; an open file stays open.
void traceDisable();
// When enabled: closes an open file, then creates the file `name` in the directory for the trace.
void traceOpen(const platform::Directory& directory, const std::string& name);
// When enabled: closes an open file, then creates the file at the path for the trace.
void traceOpen(const std::string& path);
// When enabled and a file is open: closes it.
void traceClose();

}  // namespace hlv::trace
