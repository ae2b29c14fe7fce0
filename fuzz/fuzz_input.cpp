#include "fuzz/fuzz_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace hlv::fuzz {

std::vector<std::string> splitPieces(std::span<const uint8_t> input, std::size_t count) {
  std::vector<std::string> pieces(count);
  std::size_t piece = 0;
  for (uint8_t byte : input) {
    if (byte == 0 && piece + 1 < count) {
      ++piece;
      continue;
    }
    pieces[piece].push_back(static_cast<char>(byte));
  }
  return pieces;
}

const std::string& scratchDirectory() {
  static const std::string directory = [] {
    std::string pattern =
        std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/hlv-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    return pattern;
  }();
  return directory;
}

void writeWholeFile(const std::string& path, std::string_view bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) std::abort();
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
    if (written <= 0) std::abort();
    done += static_cast<std::size_t>(written);
  }
  close(fd);
}

}  // namespace hlv::fuzz
