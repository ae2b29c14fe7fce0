#include "trace/trace_sink.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/directory.h"

namespace hlv::trace {

TraceSink::~TraceSink() {
  close();
}

void TraceSink::adopt(int descriptor, std::string path, int error) {
  descriptor_ = descriptor;
  path_ = std::move(path);
  used_ = 0;
  failed_ = false;
  reported_ = false;
  if (descriptor_ < 0) fail(error);
}

void TraceSink::open(const platform::Directory& directory, const std::string& name) {
  close();
  int error = 0;
  platform::NewFile file = directory.createFile(name, error);
  adopt(file.release(), directory.path() + name, error);
}

void TraceSink::open(const std::string& path) {
  close();
  const std::size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  platform::FileProblem problem;
  const platform::Directory directory = platform::Directory::openAsNamed(parent, problem);
  if (!directory.isOpen()) {
    adopt(-1, path, problem.error);
    return;
  }
  int error = 0;
  platform::NewFile file = directory.createFile(name, error);
  adopt(file.release(), path, error);
}

void TraceSink::close() {
  if (descriptor_ < 0) return;
  flush();
  const int descriptor = descriptor_;
  descriptor_ = -1;
  // Some file systems report a write that failed only when the file is closed.
  if (::close(descriptor) != 0 && errno != EINTR) fail(errno);
}

void TraceSink::fail(int error) {
  failed_ = true;
  if (reported_) return;
  reported_ = true;
  std::fprintf(stderr, "/!\\ The trace could not be written to '%s': %s \n", path_.c_str(),
               std::strerror(error));
}

bool TraceSink::flush() {
  if (failed_) return false;
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t written = ::write(descriptor_, buffer_.data() + done, used_ - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      fail(written < 0 ? errno : EIO);
      used_ = 0;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  used_ = 0;
  return true;
}

void TraceSink::append(const char* data, std::size_t size) {
  if (failed_ || descriptor_ < 0) return;
  while (size > 0) {
    if (used_ == buffer_.size() && !flush()) return;
    const std::size_t part = std::min(size, buffer_.size() - used_);
    std::memcpy(buffer_.data() + used_, data, part);
    used_ += part;
    data += part;
    size -= part;
  }
}

void TraceSink::writeLittleEndian(uint64_t value, unsigned bytes) {
  char buffer[8];
  for (unsigned i = 0; i < bytes; ++i)
    buffer[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  append(buffer, bytes);
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
  append(text.data(), text.size());
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

void traceOpen(const platform::Directory& directory, const std::string& name) {
  TraceSink& sink = traceSink();
  if (!sink.enabled()) return;
  sink.open(directory, name);
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
