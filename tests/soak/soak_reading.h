// What the soak reads after each run, with none of the tool's code: the block a rollback would
// return to, judged from the layout's rules on the flash dump, and the run's console, taken
// apart into the adapter table, each adapter's block and the rollback's lines.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "shared/firmware_version.h"

namespace hlv::test::soak {

// The block readers do not take, as a rollback target: whole (its CRC holds over a sane size,
// its areas and components inside the block and the flash), not marked unusable, without a free
// area, every component inside that block's own bank (bank A for NCB0, bank B for NCB1) and
// matching its CRC, with a readable firmware version. Its state bits are not looked at: a
// rollback activates it whatever they hold.
struct RollbackTarget {
  bool valid = false;
  std::string problem;  // why not
  uint32_t address = 0;
  FirmwareVersion version;
};
RollbackTarget readRollbackTarget(std::span<const uint8_t> flash);

// The state bits of the block at `address` read active (0b10 or 0b01).
bool blockReadsActive(std::span<const uint8_t> flash, uint32_t address);

struct TableRow {
  unsigned number = 0;
  std::string name;
  std::string firmware;  // as shown ("1.5.90", "0.0.0" when unreadable)
  std::string status;    // "Available: 1.6.2", "Not required", "Not available"
};

// One adapter's block of an update.
struct UpdateBlockSeen {
  std::string name;
  bool backupOk = false;
  std::optional<uint32_t> updateResult;  // 0 for "[OK] ", the code of "[FAILED : N] "
  std::optional<bool> reloadOk;
  std::optional<bool> driverOk;
  bool powerCycleAsked = false;
  bool closed = false;  // its closing "===" was printed
};

// What a rollback printed for its adapter.
struct RollbackSeen {
  bool interruptedFound = false;                    // "An interrupted rollback was found..."
  std::optional<FirmwareVersion> questionPrevious;  // "Previous version:" before the question
  bool notPossible = false;                         // "[!] Backup firmware not found..."
  bool aborted = false;                             // "Firmware rollback aborted. "
  bool backupShown = false;  // "Backing up... " (flushed before the backup starts)
  std::optional<bool> backupOk;
  bool performed = false;               // "Performing firmware rollback on adapter ..."
  std::optional<uint32_t> failedIndex;  // "[!] Rollback failed on adapter #N "
  bool finished = false;                // "Firmware rollback finished! "
};

struct ConsoleSeen {
  std::vector<std::string> unreadable;  // "Couldn't determine firmware version for device: ..."
  std::vector<TableRow> table;
  std::vector<UpdateBlockSeen> blocks;
  RollbackSeen rollback;
  bool nothingToUpdate = false;  // "No adapters can be updated "
  bool invalidInput = false;     // "Invalid input" at a number prompt
  bool updateFinished = false;   // "Firmware update finished! "
  bool problems = false;         // "!!! There were some problems updating ..."
  bool anotherInstance = false;  // "[!] Another instance of the tool is running. "
};
ConsoleSeen readConsole(const std::string& out);

// A version as the console prints it, or nothing.
std::optional<FirmwareVersion> parseVersion(const std::string& text);
std::string versionText(FirmwareVersion version);

}  // namespace hlv::test::soak
