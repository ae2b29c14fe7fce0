#include "app/rollback_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>
#include <new>

#include "app/rollback_journal_trace.h"

namespace hlv {
namespace tp = trace_points::rollback_journal;
namespace {

constexpr std::string_view kHeader = "hlvflashupdate rollback journal 1";
// A record is a few hundred bytes; anything longer is not one.
constexpr std::size_t kMaximumJournalSize = 4096;

// A descriptor closed when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The tool's own: owned by the user it runs as, and writable by nobody else.
bool ownedAndPrivate(const struct stat& status) {
  return status.st_uid == geteuid() && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A run directory of `logsFd` the tool may trust: a real directory of its own.
int openRunDirectory(int logsFd, const std::string& name) {
  if (!isPlainName(name)) return -1;
  const int fd = openat(logsFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode) || !ownedAndPrivate(status)) {
    trace::emit(tp::kDirectoryNotOwn, name);
    close(fd);
    return -1;
  }
  return fd;
}

// A file of `dirFd` the tool wrote itself: a regular file (not a link), its own, mode 0600. Its
// size in `size`.
int openOwnFile(int dirFd, const std::string& name, uint64_t& size) {
  const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat status {};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !ownedAndPrivate(status) ||
      (status.st_mode & 07777) != 0600) {
    trace::emit(tp::kFileNotOwn, name);
    close(fd);
    return -1;
  }
  size = static_cast<uint64_t>(status.st_size);
  return fd;
}

// Reads exactly `length` bytes from the start of the file.
bool readExactly(int fd, uint8_t* buffer, std::size_t length) {
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = pread(fd, buffer + done, length - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool writeExactly(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::optional<RollbackJournal> readJournal(int runFd, const std::string& runName) {
  uint64_t size = 0;
  const Descriptor fd(openOwnFile(runFd, kRollbackJournalName, size));
  if (!fd.ok()) return std::nullopt;
  if (size > kMaximumJournalSize) {
    trace::emit(tp::kJournalTooLong, runName, size);
    return std::nullopt;
  }
  std::string text(size, '\0');
  if (!readExactly(fd.get(), reinterpret_cast<uint8_t*>(text.data()), text.size())) {
    trace::emit(tp::kJournalUnreadable, runName);
    return std::nullopt;
  }
  std::optional<RollbackJournal> journal = parseRollbackJournal(text);
  if (!journal) trace::emit(tp::kJournalMalformed, runName);
  return journal;
}

// ---- the text form ------------------------------------------------------------------------

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", value);
  return text;
}

// Splits off the next line (without its line feed); false when there is none.
bool nextLine(std::string_view& text, std::string_view& line) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return false;
  line = text.substr(0, end);
  text.remove_prefix(end + 1);
  return true;
}

// The line's value after "key ".
bool keyed(std::string_view line, std::string_view key, std::string_view& value) {
  if (line.size() <= key.size() || !line.starts_with(key) || line[key.size()] != ' ')
    return false;
  value = line.substr(key.size() + 1);
  return true;
}

// One unsigned number taking the whole text, without sign, blank or leading zeros (but "0");
// hexadecimal digits in lower case, as the record writes them.
template <typename T>
bool number(std::string_view text, T& value, int base) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
  for (char c : text) {
    if (c >= 'A' && c <= 'F') return false;
  }
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size();
}

// Numbers separated by single blanks.
template <typename T, std::size_t N>
bool numbers(std::string_view text, T (&values)[N], int base, char separator = ' ') {
  for (std::size_t i = 0; i < N; ++i) {
    const std::size_t end = i + 1 < N ? text.find(separator) : text.size();
    if (end == std::string_view::npos || !number(text.substr(0, end), values[i], base))
      return false;
    text.remove_prefix(i + 1 < N ? end + 1 : end);
  }
  return true;
}

bool version(std::string_view text, FirmwareVersion& value) {
  uint32_t parts[3] = {};
  if (!numbers(text, parts, 10, '.')) return false;
  value = {parts[0], parts[1], parts[2]};
  return true;
}

// The adapter's PCI address as the tool read it from sysfs ("0000:01:00.0"); it is only compared,
// never a path, but it must be one word.
bool isAddressWord(std::string_view text) {
  return text.size() <= 64 && isPlainName(text) && text.find(' ') == std::string_view::npos;
}

bool digest(std::string_view text, Sha256Digest& value) {
  if (text.size() != 2 * value.size()) return false;
  for (std::size_t i = 0; i < value.size(); ++i) {
    uint8_t byte = 0;
    const std::string_view pair = text.substr(2 * i, 2);
    for (char c : pair) {
      if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    std::from_chars(pair.data(), pair.data() + 2, byte, 16);
    value[i] = byte;
  }
  return true;
}

}  // namespace

bool isPlainName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string formatRollbackJournal(const RollbackJournal& journal) {
  const RollbackPlan& plan = journal.plan;
  std::string text;
  text += std::string(kHeader) + "\n";
  text += "sequence " + std::to_string(journal.sequence) + "\n";
  text += "adapter " + journal.pciAddress + "\n";
  text += "flash " + hex(plan.flashId) + " " + hex(plan.flashSize) + " " + hex(plan.sectorSize) +
          "\n";
  text += "activate " + hex(plan.activateAddress) + "\n";
  text += "deactivate " + hex(plan.deactivateAddress) + "\n";
  text += "current " + plan.current.toString() + "\n";
  text += "previous " + plan.previous.toString() + "\n";
  text += "backup " + journal.backup + "\n";
  text += "sha256 " + sha256Hex(journal.backupDigest) + "\n";
  return text;
}

std::optional<RollbackJournal> parseRollbackJournal(std::string_view text) {
  RollbackJournal journal;
  RollbackPlan& plan = journal.plan;
  std::string_view line;
  std::string_view value;
  if (!nextLine(text, line) || line != kHeader) return std::nullopt;
  if (!nextLine(text, line) || !keyed(line, "sequence", value) ||
      !number(value, journal.sequence, 10))
    return std::nullopt;
  if (!nextLine(text, line) || !keyed(line, "adapter", value) || !isAddressWord(value))
    return std::nullopt;
  journal.pciAddress = std::string(value);
  uint32_t flash[3] = {};
  if (!nextLine(text, line) || !keyed(line, "flash", value) || !numbers(value, flash, 16))
    return std::nullopt;
  plan.flashId = flash[0];
  plan.flashSize = flash[1];
  plan.sectorSize = flash[2];
  if (!nextLine(text, line) || !keyed(line, "activate", value) ||
      !number(value, plan.activateAddress, 16))
    return std::nullopt;
  if (!nextLine(text, line) || !keyed(line, "deactivate", value) ||
      !number(value, plan.deactivateAddress, 16))
    return std::nullopt;
  if (!nextLine(text, line) || !keyed(line, "current", value) || !version(value, plan.current))
    return std::nullopt;
  if (!nextLine(text, line) || !keyed(line, "previous", value) || !version(value, plan.previous))
    return std::nullopt;
  if (!nextLine(text, line) || !keyed(line, "backup", value)) return std::nullopt;
  const std::size_t slash = value.find('/');
  if (slash == std::string_view::npos || !isPlainName(value.substr(0, slash)) ||
      !isPlainName(value.substr(slash + 1)))
    return std::nullopt;
  journal.backup = std::string(value);
  if (!nextLine(text, line) || !keyed(line, "sha256", value) ||
      !digest(value, journal.backupDigest))
    return std::nullopt;
  if (!text.empty()) return std::nullopt;
  return journal;
}

JournalSearch findRollbackJournals(int logsFd, const std::string& pciAddress) {
  JournalSearch search;
  // The listing works on a descriptor of its own, so that logsFd stays open and unmoved.
  const int listFd = openat(logsFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = listFd >= 0 ? fdopendir(listFd) : nullptr;
  if (listing == nullptr) {
    trace::emit(tp::kLogsNotListed, errno);
    if (listFd >= 0) close(listFd);
    return search;
  }
  while (const dirent* entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    const Descriptor run(openRunDirectory(logsFd, name));
    if (!run.ok()) continue;
    std::optional<RollbackJournal> journal = readJournal(run.get(), name);
    if (!journal || journal->pciAddress != pciAddress) continue;
    trace::emit(tp::kJournalFound, name, journal->sequence);
    if (!search.newest || journal->sequence > search.newest->sequence) {
      search.newest = std::move(journal);
      search.ambiguous = false;
    } else if (journal->sequence == search.newest->sequence) {
      search.ambiguous = true;
    }
  }
  closedir(listing);
  return search;
}

std::optional<InterruptedRollback> readInterruptedRollback(int logsFd,
                                                           const std::string& logsPath,
                                                           const std::string& pciAddress) {
  JournalSearch search = findRollbackJournals(logsFd, pciAddress);
  if (!search.newest) {
    trace::emit(tp::kNoJournal, pciAddress);
    return std::nullopt;
  }
  if (search.ambiguous) {
    trace::emit(tp::kJournalAmbiguous, search.newest->sequence);
    return std::nullopt;
  }
  InterruptedRollback found;
  found.journal = std::move(*search.newest);
  const RollbackJournal& journal = found.journal;
  // The parser allows exactly one "/", between two plain names.
  const std::size_t slash = journal.backup.find('/');
  const std::string runName = journal.backup.substr(0, slash);
  const std::string fileName = journal.backup.substr(slash + 1);
  found.backupPath = logsPath + journal.backup;

  const Descriptor run(openRunDirectory(logsFd, runName));
  uint64_t size = 0;
  const Descriptor file(run.ok() ? openOwnFile(run.get(), fileName, size) : -1);
  if (!file.ok()) {
    trace::emit(tp::kBackupNotOpened, journal.backup, errno);
    return std::nullopt;
  }
  if (size != journal.plan.flashSize || size == 0) {
    trace::emit(tp::kBackupWrongSize, journal.backup, size);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    trace::emit(tp::kBackupWrongSize, journal.backup, size);
    return std::nullopt;
  }
  if (!readExactly(file.get(), bytes.data(), bytes.size())) {
    trace::emit(tp::kBackupNotOpened, journal.backup, errno);
    return std::nullopt;
  }
  const std::optional<Sha256Digest> computed = sha256(bytes);
  if (!computed || *computed != journal.backupDigest) {
    trace::emit(tp::kBackupDigestDiffers, journal.backup);
    return std::nullopt;
  }
  trace::emit(tp::kBackupVerified, journal.backup, journal.sequence);
  found.bytes = std::move(bytes);
  return found;
}

int writeRollbackJournal(int runFd, const RollbackJournal& journal) {
  const std::string text = formatRollbackJournal(journal);
  const int fd =
      openat(runFd, kRollbackJournalName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
             0600);
  if (fd < 0) {
    const int error = errno;
    trace::emit(tp::kJournalNotCreated, error);
    return error;
  }
  int error = 0;
  if (fchmod(fd, 0600) != 0 || !writeExactly(fd, text) || fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && fsync(runFd) != 0) error = errno;
  if (error != 0) {
    // A record that is not whole on the disk must not be found later.
    unlinkat(runFd, kRollbackJournalName, 0);
    trace::emit(tp::kJournalNotWritten, error);
    return error;
  }
  trace::emit(tp::kJournalWritten, journal.sequence, journal.backup);
  return 0;
}

}  // namespace hlv
