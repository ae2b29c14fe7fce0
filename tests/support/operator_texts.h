// The console dialogue of a run past the confirmation, put together from the lines and layouts
// the tool is meant to print, independently of its sources: the adapter table, the number
// prompts, the per-adapter update block, the rollback dialogue and the closing lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/firmware_version.h"
#include "tests/support/expected_output.h"

namespace hlv::test {

// A status column text. Texts made by formatting keep their terminating NUL, which the column
// width counts.
struct StatusText {
  std::string text;
  bool formatted = false;
};
StatusText availableStatus(FirmwareVersion offered);  // "Available: M.m.b"
StatusText notAvailableStatus();
StatusText notRequiredStatus();

struct TableRow {
  std::string name;
  FirmwareVersion firmware;
  StatusText status;
  uint16_t deviceId = 0;
  uint16_t subsystemDeviceId = 0;
  uint16_t subsystemVendorId = 0;
  std::string mac;
};
std::string adapterTable(const std::vector<TableRow>& rows, bool rollbackMode);

inline const std::string kUpdateNotice =
    "*** Important notice *** \n"
    "The network connection may be dropped during the update process. \n"
    "Please complete all network activity before updating.\n \n";
// Printed while the adapter list is built, for an adapter whose firmware version cannot be read.
std::string versionsUnreadable(const std::string& name);
inline const std::string kNothingToUpdate = "No adapters can be updated \n";
inline const std::string kSilentAll = "Silent mode: all devices will be updated \n";
std::string silentSelected(const std::string& name);
std::string silentNotFound(const std::string& name);
// The blank line before the first adapter's block.
inline const std::string kUpdatesStart = " \n";
inline const std::string kUpdateFinished = "\nFirmware update finished! \n";
std::string updateProblems(const std::string& logDirectory);

// The number prompt, with "Invalid input" for each of the first `invalidAnswers` answers; the
// last ">" waits for the answer that ends the prompt.
std::string updateNumberPrompt(unsigned invalidAnswers = 0);
std::string rollbackNumberPrompt(unsigned invalidAnswers = 0);

// One adapter's block of the update procedure.
struct UpdateBlock {
  std::string name;
  uint16_t vendorId = 0x1E9C;
  uint16_t deviceId = 0;
  uint16_t subsystemDeviceId = 0;
  uint16_t subsystemVendorId = 0;
  uint32_t backupResult = 0;   // not 0: the block ends after the backup
  uint32_t updateResult = 0;   // not 0: "[FAILED : code] "
  FirmwareVersion newVersion;  // shown after a successful update
  enum class Reload { kNotTried, kSucceeded, kFailed } reload = Reload::kNotTried;
  bool driverRestarted = true;
};
std::string updateBlock(const UpdateBlock& block);

// The rollback dialogue up to the question, then its outcomes.
std::string rollbackQuestion(FirmwareVersion current, FirmwareVersion previous);
inline const std::string kRollbackAborted = "Firmware rollback aborted. \n";
inline const std::string kNoPreviousFirmware =
    "[!] Backup firmware not found, rollback is not possible. Stopping. \n";
// Before the question, when the adapter's last rollback was cut short and the backup it saved
// (the path follows, then "' \n") finishes it.
inline const std::string kInterruptedRollbackFound =
    "An interrupted rollback was found; it is finished from the backup '";
// After the confirmation: the backup, the switch (a rollback result of 0 is followed by the
// firmware restart the tool cannot do without an update, hence the power-cycle line), the
// driver restart and the closing lines.
// A driver restart that fails asks for the power cycle too.
std::string rollbackOutcome(const std::string& name, uint32_t index, uint32_t result,
                            bool driverRestarted = true);

}  // namespace hlv::test
