#include "app/rollback_journal.h"

#include <cerrno>
#include <charconv>
#include <cstdio>

#include "app/rollback_journal_trace.h"

namespace hlv {
namespace tp = trace_points::rollback_journal;
namespace {

constexpr std::string_view kHeader = "hlvflashupdate rollback journal 1";
// A record is a few hundred bytes; anything longer is not one.
constexpr std::size_t kMaximumJournalSize = 4096;

std::optional<RollbackJournal> readJournal(const platform::Directory& run) {
  std::vector<uint8_t> bytes;
  platform::FileProblem problem;
  if (!run.readOwnFile(kRollbackJournalName, kMaximumJournalSize, bytes, problem)) {
    if (problem.error != ENOENT) trace::emit(tp::kFileNotOwn, problem.path, problem.reason);
    return std::nullopt;
  }
  std::optional<RollbackJournal> journal =
      parseRollbackJournal({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  if (!journal) trace::emit(tp::kJournalMalformed, run.path());
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

// One component of a path the record names: a plain name, without control characters.
bool isRecordName(std::string_view name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return platform::isPlainName(std::string(name));
}

// The adapter's PCI address as the tool read it from sysfs ("0000:01:00.0"); it is only compared,
// never a path, but it must be one word.
bool isAddressWord(std::string_view text) {
  return text.size() <= 64 && isRecordName(text) && text.find(' ') == std::string_view::npos;
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
  if (slash == std::string_view::npos || !isRecordName(value.substr(0, slash)) ||
      !isRecordName(value.substr(slash + 1)))
    return std::nullopt;
  journal.backup = std::string(value);
  if (!nextLine(text, line) || !keyed(line, "sha256", value) ||
      !digest(value, journal.backupDigest))
    return std::nullopt;
  if (!text.empty()) return std::nullopt;
  return journal;
}

JournalSearch findRollbackJournals(const platform::Directory& logs, const std::string& pciAddress) {
  JournalSearch search;
  std::vector<std::string> names;
  if (!logs.list(names)) {
    trace::emit(tp::kLogsNotListed, errno);
    return search;
  }
  for (const std::string& name : names) {
    platform::FileProblem problem;
    const platform::Directory run = logs.openExisting(name, problem);
    if (!run.isOpen()) {
      if (problem.error != ENOTDIR) trace::emit(tp::kDirectoryNotOwn, problem.path, problem.reason);
      continue;
    }
    std::optional<RollbackJournal> journal = readJournal(run);
    if (!journal || journal->pciAddress != pciAddress) continue;
    trace::emit(tp::kJournalFound, name, journal->sequence);
    if (!search.newest || journal->sequence > search.newest->sequence) {
      search.newest = std::move(journal);
      search.ambiguous = false;
    } else if (journal->sequence == search.newest->sequence) {
      search.ambiguous = true;
    }
  }
  return search;
}

std::optional<InterruptedRollback> readInterruptedRollback(const platform::Directory& logs,
                                                           const std::string& pciAddress) {
  JournalSearch search = findRollbackJournals(logs, pciAddress);
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
  found.backupPath = logs.path() + journal.backup;

  platform::FileProblem problem;
  const platform::Directory run = logs.openExisting(runName, problem);
  std::vector<uint8_t> bytes;
  if (!run.isOpen() || !run.readOwnFile(fileName, journal.plan.flashSize, bytes, problem)) {
    trace::emit(tp::kBackupNotOpened, problem.path, problem.reason);
    return std::nullopt;
  }
  if (bytes.size() != journal.plan.flashSize || bytes.empty()) {
    trace::emit(tp::kBackupWrongSize, journal.backup, static_cast<uint64_t>(bytes.size()));
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

int writeRollbackJournal(const platform::Directory& run, const RollbackJournal& journal) {
  const std::string text = formatRollbackJournal(journal);
  int error = 0;
  platform::NewFile file = run.createFile(kRollbackJournalName, error);
  if (!file.isOpen()) {
    trace::emit(tp::kJournalNotCreated, error);
    return error;
  }
  if (!file.writeAll(text.data(), text.size()) || !file.sync() || !file.close() || !run.sync())
    error = errno != 0 ? errno : EIO;
  if (error != 0) {
    // A record that is not whole on the disk must not be found later.
    file = {};
    run.removeFile(kRollbackJournalName);
    trace::emit(tp::kJournalNotWritten, error);
    return error;
  }
  trace::emit(tp::kJournalWritten, journal.sequence, journal.backup);
  return 0;
}

}  // namespace hlv
