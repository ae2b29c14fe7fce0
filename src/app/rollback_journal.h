// The record a rollback writes in its run directory, flushed, before it touches the flash: which
// adapter and part, what it is about to rewrite, and the whole-flash backup whose bytes it
// writes, with the backup's SHA-256. A rollback cut short (its previous block's first sector
// erased or half written) leaves the adapter without a previous firmware on its flash; the next
// rollback may finish it from that backup, and from no other file: the newest record of the
// adapter names it, the file must be the tool's own (a regular file, not a link, owned by the
// user the tool runs as, mode 0600, in a run directory of the same kind) and hold exactly the
// bytes the digest says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory.h"
#include "shared/rollback_plan.h"
#include "shared/sha256.h"

namespace hlv {

// The record's file name in the run directory. A run rolls back one adapter at most.
inline constexpr const char* kRollbackJournalName = "rollback.journal";

struct RollbackJournal {
  // One more than the newest record of the same adapter found when it was written: the records
  // are ordered by it, never by the names of their directories, which follow the local clock.
  uint64_t sequence = 0;
  std::string pciAddress;  // the adapter, "0000:01:00.0"
  RollbackPlan plan;       // the part, the blocks activated and deactivated, the versions
  // The backup whose bytes the rollback writes, as "<run directory>/<file>" under "logs/": this
  // run's own backup, or, when the rollback finishes an interrupted one, the backup that one
  // relied on.
  std::string backup;
  Sha256Digest backupDigest{};
};

// The record as text, and back. Parsing is strict (outside input): the lines in their order,
// every number in range, the backup named by a run directory and a file name only.
std::string formatRollbackJournal(const RollbackJournal& journal);
std::optional<RollbackJournal> parseRollbackJournal(std::string_view text);

// A backup that finishes a rollback cut short, with the record that names it.
struct InterruptedRollback {
  RollbackJournal journal;
  std::string backupPath;      // for the console: the path of "logs/" + journal.backup
  std::vector<uint8_t> bytes;  // the whole flash as that rollback found it
};

// What the tool found of the records of one adapter under "logs/".
struct JournalSearch {
  std::optional<RollbackJournal> newest;  // the adapter's record with the highest sequence
  bool ambiguous = false;                 // two records share the highest sequence
};

// Looks through the run directories of `logs` for the records of the adapter at `pciAddress`.
// Directories and records that are not the tool's own are passed over.
JournalSearch findRollbackJournals(const platform::Directory& logs, const std::string& pciAddress);

// The backup the adapter's newest record names, read whole and checked against its digest and
// the flash size the record gives. None when there is no record, when the newest is ambiguous
// or names a backup that is missing, not the tool's own, of another size or other bytes: no
// other file is ever tried.
std::optional<InterruptedRollback> readInterruptedRollback(const platform::Directory& logs,
                                                           const std::string& pciAddress);

// Writes the record as a new file of mode 0600 in the run's directory and flushes it and the
// directory. 0, or errno.
int writeRollbackJournal(const platform::Directory& run, const RollbackJournal& journal);

}  // namespace hlv
