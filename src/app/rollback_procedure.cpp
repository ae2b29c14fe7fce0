#include "app/rollback_procedure.h"

#include <optional>

#include "app/adapter_table.h"
#include "app/backup_file.h"
#include "app/console.h"
#include "app/driver_restart_step.h"
#include "app/rollback_procedure_trace.h"
#include "app/update_session.h"
#include "device/pci_discovery.h"
#include "platform/interrupt_hold.h"
#include "update/voflupdateiface.h"

namespace hlv {
namespace tp = trace_points::rollback_procedure;

uint32_t rollbackSelection(UpdateSession& session, std::FILE* input) {
  const std::vector<AdapterEntry>& entries = session.adapters();
  showAdapterTable(entries, true);
  trace::emit(tp::kRollbackSelection, static_cast<uint64_t>(entries.size()));
  std::size_t chosen = session.findAdapterByName();
  if (chosen >= entries.size()) {
    std::puts("Please select an adapter to restore previous firmware version:\n ");
    chosen = selectAdapterForRollback(entries, input, stdout);
    if (chosen >= entries.size()) {
      trace::emit(tp::kQuit);
      return kRollbackAborted;
    }
  }
  return rollbackAdapter(entries[chosen], session.logDirectory(), input);
}

uint32_t rollbackAdapter(const AdapterEntry& entry, const std::string& logDirectory,
                         std::FILE* input) {
  trace::emit(tp::kRollbackStarted, entry.index);
  FirmwareVersion previous = entry.previousVersion;
  // Without a previous firmware on the flash, the backup of a rollback cut short may finish it.
  std::optional<RollbackBackup> resumed;
  if (previous.isZero()) {
    trace::emit(tp::kNoPreviousFirmware, entry.index);
    resumed = findRollbackBackup(entry, logDirectory);
    if (!resumed) {
      std::puts("[!] Backup firmware not found, rollback is not possible. Stopping. ");
      return kRollbackNotPossible;
    }
    trace::emit(tp::kInterruptedRollbackFound, resumed->path);
    std::printf("An interrupted rollback was found; it is finished from the backup '%s' \n",
                resumed->path.c_str());
    previous = resumed->previousVersion;
  }

  const FirmwareVersion& current = entry.currentVersion;
  std::puts("This will restore adapter's firmware to the previous version. ");
  std::printf("  Current version:\t%u.%u.%u \n", current.major, current.minor, current.build);
  std::printf("  Previous version:\t%u.%u.%u \n", previous.major, previous.minor, previous.build);
  std::puts("[WARNING] This is an experimental feature which may not work correctly. ");
  std::puts(
      "  Please ONLY use if absolutely necessary, e.g. network adapter not functional after "
      "firmware update. ");

  const std::string answer =
      readAnswer("Please confirm firmware rollback operation (y/n): ", false, input, stdout);
  if (!answer.empty()) trace::emit(tp::kConfirmationAnswer, answer);
  if (!isConfirmation(answer)) {
    trace::emit(tp::kNotConfirmed);
    std::puts("Firmware rollback aborted. ");
    return kRollbackAborted;
  }

  // The previous firmware is switched on only when the whole flash is saved first.
  showStep("Backing up... ");
  uint32_t result = backupAdapterImage(entry, logDirectory, "_rollback");
  if (result != 0) {
    trace::emit(tp::kBackupFailed, result);
    std::puts("[FAILED] ");
    return result;
  }
  std::puts("[OK] ");

  // As in an update: an interrupt that came during the backup ends the run now, the flash
  // untouched; one that comes later waits until the driver is bound again and the operator has
  // been told whether a power cycle is needed.
  platform::interruptCheckpoint();
  const platform::InterruptHold untilTheRollbackIsFinished;
  std::printf("Performing firmware rollback on adapter '%s'... \n", entry.name().c_str());
  // The backup succeeded, so the adapter has a ready update interface.
  VoFlUpdateIface* updater = entry.readyUpdater();
  if (updater == nullptr) {
    result = kBackupNoUpdateInterface;
  } else if (resumed) {
    trace::emit(tp::kRollbackFromBackup, resumed->path);
    result = updater->rollbackFromBackup(resumed->bytes);
  } else {
    result = updater->rollbackFirmware();
  }
  bool needPowerCycle = false;
  if (result != 0) {
    // The table numbers adapters from 1; this message gives the index, from 0.
    std::printf("[!] Rollback failed on adapter #%u \n", entry.index);
    trace::emit(tp::kRollbackFailed, entry.index, result);
  } else if (const uint32_t reload = updater->reloadFirmware(false); reload != 0) {
    trace::emit(tp::kReloadFailed, reload);
    std::puts("/!\\ Rollback succeeded but firmware could not be restarted ");
    needPowerCycle = true;
  }

  // The driver is restarted also after a failed rollback.
  if (!restartDriverStep(entry, "Restarting device driver... ")) needPowerCycle = true;
  std::puts("Firmware rollback finished! ");
  if (needPowerCycle) std::puts("Please power cycle the setup to complete the operation. ");
  trace::emit(tp::kRollbackFinished, entry.index, result, needPowerCycle);
  return result;
}

}  // namespace hlv
