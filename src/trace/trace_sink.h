// The process-wide binary trace sink.
//
// A trace file is the plain concatenation of records; all integers little-endian, no padding:
//   u32 component, u32 file, u32 point, then per argument: u32 size, size bytes of value.
// Integers take their natural width; a text takes its length without terminator.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace hlv::trace {

class TraceSink {
 public:
  bool isOpen() const { return stream_.is_open(); }
  bool enabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }

  // Opens a file, closing the one open before; a failed open leaves the stream failed and
  // without a file.
  void open(const std::string& path);
  void close();
  bool failed() const { return stream_.fail(); }

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
  void writeLittleEndian(uint64_t value, unsigned bytes);
  std::ofstream stream_;
  bool enabled_ = false;
};

// The sink, built on first use (thread-safe one-time initialisation) and destroyed at exit,
// which closes the file and flushes what is buffered.
TraceSink& traceSink();

// Sets the enabled flag; the name is accepted and not used.
void traceEnable(const char* providerName);
// Clears the enabled flag; an open file stays open.
void traceDisable();
// When enabled: closes an open file, then opens the path for binary output, truncating it.
void traceOpen(const std::string& path);
// When enabled and a file is open: closes it.
void traceClose();

}  // namespace hlv::trace
