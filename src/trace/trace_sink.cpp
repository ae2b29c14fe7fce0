#include "trace/trace_sink.h"

namespace hlv::trace {

void TraceSink::open(const std::string& path) {
  if (stream_.is_open()) stream_.close();  // a failed close sets the fail state
  stream_.open(path, std::ios::out | std::ios::trunc | std::ios::binary);
  if (stream_.is_open()) stream_.clear();
}

void TraceSink::close() {
  stream_.close();
}

void TraceSink::writeLittleEndian(uint64_t value, unsigned bytes) {
  char buffer[8];
  for (unsigned i = 0; i < bytes; ++i)
    buffer[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  stream_.write(buffer, bytes);
}

void TraceSink::writeWord(uint32_t value) {
  writeLittleEndian(value, 4);
}

void TraceSink::writeArg(bool value) {
  writeWord(1);
  writeLittleEndian(value ? 1 : 0, 1);
}
void TraceSink::writeArg(uint8_t value) {
  writeWord(1);
  writeLittleEndian(value, 1);
}
void TraceSink::writeArg(uint16_t value) {
  writeWord(2);
  writeLittleEndian(value, 2);
}
void TraceSink::writeArg(uint32_t value) {
  writeWord(4);
  writeLittleEndian(value, 4);
}
void TraceSink::writeArg(int32_t value) {
  writeWord(4);
  writeLittleEndian(static_cast<uint32_t>(value), 4);
}
void TraceSink::writeArg(uint64_t value) {
  writeWord(8);
  writeLittleEndian(value, 8);
}
void TraceSink::writeArg(int64_t value) {
  writeWord(8);
  writeLittleEndian(static_cast<uint64_t>(value), 8);
}
void TraceSink::writeArg(std::string_view text) {
  writeWord(static_cast<uint32_t>(text.size()));
  stream_.write(text.data(), static_cast<std::streamsize>(text.size()));
}

TraceSink& traceSink() {
  static TraceSink sink;
  return sink;
}

void traceEnable(const char* providerName) {
  (void)providerName;
  traceSink().setEnabled(true);
}

void traceDisable() {
  traceSink().setEnabled(false);
}

void traceOpen(const std::string& path) {
  TraceSink& sink = traceSink();
  if (!sink.enabled()) return;
  sink.open(path);
}

void traceClose() {
  TraceSink& sink = traceSink();
  if (sink.enabled() && sink.isOpen()) sink.close();
}

}  // namespace hlv::trace
