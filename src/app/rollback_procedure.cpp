#include "app/rollback_procedure.h"

#include <cerrno>
#include <optional>
#include <span>

#include "app/adapter_table.h"
#include "app/backup_file.h"
#include "app/console.h"
#include "app/driver_restart_step.h"
#include "app/rollback_journal.h"
#include "app/rollback_procedure_trace.h"
#include "app/update_session.h"
#include "device/pci_discovery.h"
#include "platform/interrupt_hold.h"
#include "platform/platform.h"
#include "update/voflupdateiface.h"

namespace hlv {
namespace tp = trace_points::rollback_procedure;

namespace {

// An adapter's previous firmware is offered only where the rollback would take it. The version
// readout accepts a previous block that is whole, but the rollback also wants the firmware it
// describes intact in that block's own bank and no free area: an update cut while it rewrote
// that bank leaves a whole block over components that are gone (and a version read from what the
// update had begun to write there), which would be offered and then refused once confirmed.
void offerOnlyRollbackTargets(std::vector<AdapterEntry>& entries) {
  for (AdapterEntry& entry : entries) {
    if (entry.previousVersion.isZero()) continue;
    VoFlUpdateIface* const updater = entry.readyUpdater();
    if (updater == nullptr) continue;
    RollbackPlan plan;
    const uint32_t planned = updater->planRollback({}, plan);
    if (planned != 0) {
      trace::emit(tp::kPreviousNotOffered, entry.index, planned);
      entry.previousVersion = {};
    }
  }
}

}  // namespace

uint32_t rollbackSelection(UpdateSession& session, std::FILE* input) {
  offerOnlyRollbackTargets(session.adapters());
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
  return rollbackAdapter(entries[chosen], session.logDirectory(), input, session.outcomeOf(chosen));
}

namespace {

// The rollback cut short that the adapter's newest journal records, when its backup finishes it
// on the flash as it is now: the plan made from the backup must rewrite what the journal said, on
// the part the journal names.
std::optional<InterruptedRollback> findInterruptedRollback(
    const AdapterEntry& entry, VoFlUpdateIface* updater, const trace::LogDirectory& logDirectory) {
  if (updater == nullptr || !entry.adapter) return std::nullopt;
  std::optional<InterruptedRollback> found =
      readInterruptedRollback(logDirectory.logs(), entry.adapter->bdf);
  if (!found) return std::nullopt;
  const RollbackPlan& recorded = found->journal.plan;
  RollbackPlan plan;
  const uint32_t planned = updater->planRollback(found->bytes, plan);
  if (planned != 0) {
    trace::emit(tp::kJournalBackupRefused, found->backupPath, planned);
    return std::nullopt;
  }
  if (plan.flashId != recorded.flashId || plan.flashSize != recorded.flashSize ||
      plan.sectorSize != recorded.sectorSize || plan.activateAddress != recorded.activateAddress ||
      plan.deactivateAddress != recorded.deactivateAddress) {
    trace::emit(tp::kJournalPlanDiffers, plan.flashId, plan.activateAddress,
                recorded.activateAddress);
    return std::nullopt;
  }
  found->journal.plan = plan;
  return found;
}

// Records, before the flash is touched, what the rollback is about to rewrite and the backup it
// relies on. 0, or the backup's failure code.
uint32_t recordRollback(const AdapterEntry& entry, const trace::LogDirectory& logDirectory,
                        const RollbackPlan& plan, const SavedBackup& saved,
                        const std::optional<InterruptedRollback>& resumed) {
  RollbackJournal journal;
  const JournalSearch earlier = findRollbackJournals(logDirectory.logs(), entry.adapter->bdf);
  journal.sequence = earlier.newest ? earlier.newest->sequence + 1 : 1;
  journal.pciAddress = entry.adapter->bdf;
  journal.plan = plan;
  if (resumed) {
    journal.backup = resumed->journal.backup;
    journal.backupDigest = resumed->journal.backupDigest;
  } else {
    journal.backup = logDirectory.runName() + "/" + saved.fileName;
    journal.backupDigest = saved.digest;
  }
  const int error = writeRollbackJournal(logDirectory.run(), journal);
  if (error != 0) return error == EEXIST ? kBackupFileNotOpened : kBackupWriteFailed;
  return 0;
}

}  // namespace

uint32_t rollbackAdapter(const AdapterEntry& entry, const trace::LogDirectory& logDirectory,
                         std::FILE* input, AdapterOutcome* outcome) {
  AdapterOutcome unrecorded;
  AdapterOutcome& out = outcome != nullptr ? *outcome : unrecorded;
  out = {};
  out.attempted = true;
  // Until the rollback has run, the flash holds what it held.
  out.firmwareAfter = entry.currentVersion;
  out.startedNs = platform::current().monotonicNanoseconds();
  const auto finish = [&out](uint32_t result) {
    out.result = result;
    out.endedNs = platform::current().monotonicNanoseconds();
    return result;
  };
  trace::emit(tp::kRollbackStarted, entry.index);
  VoFlUpdateIface* const updater = entry.readyUpdater();
  FirmwareVersion previous = entry.previousVersion;
  // Without a previous firmware on the flash, the backup of a rollback cut short may finish it:
  // only the one its journal names.
  std::optional<InterruptedRollback> resumed;
  if (previous.isZero()) {
    trace::emit(tp::kNoPreviousFirmware, entry.index);
    resumed = findInterruptedRollback(entry, updater, logDirectory);
    if (!resumed) {
      std::puts("[!] Backup firmware not found, rollback is not possible. Stopping. ");
      return finish(kRollbackNotPossible);
    }
    trace::emit(tp::kInterruptedRollbackFound, resumed->backupPath);
    std::printf("An interrupted rollback was found; it is finished from the backup '%s' \n",
                resumed->backupPath.c_str());
    previous = resumed->journal.plan.previous;
  }

  // A rollback cut at the wrong moment can leave the flash unreadable to the version readout;
  // the plan made from the backup then knows the firmware running.
  const FirmwareVersion current = resumed && entry.currentVersion.isZero()
                                      ? resumed->journal.plan.current
                                      : entry.currentVersion;
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
    return finish(kRollbackAborted);
  }

  // The previous firmware is switched on only when the whole flash is saved first, and the
  // journal that names the backup is on the disk beside it.
  showStep("Backing up... ");
  SavedBackup saved;
  uint32_t result = backupAdapterImage(entry, logDirectory, "_rollback", &saved);
  if (result == 0) {
    out.backupFile = saved.fileName;
    out.backupSize = saved.size;
    out.backupDigest = saved.digest;
  }
  // What the rollback will rewrite, checked as the rollback checks it: a rollback that would be
  // refused writes no journal, and fails below without touching the flash.
  RollbackPlan plan;
  uint32_t planned = kBackupFlashNotRead;
  if (result == 0 && updater != nullptr) {
    const std::span<const uint8_t> source =
        resumed ? std::span<const uint8_t>(resumed->bytes) : std::span<const uint8_t>();
    planned = updater->planRollback(source, plan);
    if (planned == 0) result = recordRollback(entry, logDirectory, plan, saved, resumed);
  }
  // The journal belongs to the step: its failure is the backup's.
  out.backupStatus = result;
  if (result != 0) {
    trace::emit(tp::kBackupFailed, result);
    std::puts("[FAILED] ");
    return finish(result);
  }
  std::puts("[OK] ");

  // As in an update: an interrupt that came during the backup ends the run now, the flash
  // untouched; one that comes later waits until the driver is bound again and the operator has
  // been told whether a power cycle is needed.
  platform::interruptCheckpoint();
  const platform::InterruptHold untilTheRollbackIsFinished;
  std::printf("Performing firmware rollback on adapter '%s'... \n", entry.name().c_str());
  if (planned != 0) {
    trace::emit(tp::kRollbackNotPlanned, planned);
    result = planned;
  } else if (resumed) {
    trace::emit(tp::kRollbackFromBackup, resumed->backupPath);
    result = updater->rollbackFromBackup(resumed->bytes);
  } else {
    result = updater->rollbackFirmware();
  }
  bool needPowerCycle = false;
  out.result = result;
  // The rollback switches the active block in the flash's first sector; until that is done the
  // firmware it ran is the active one.
  if (result == 0) out.firmwareAfter = previous;
  if (result != 0) {
    // The table numbers adapters from 1; this message gives the index, from 0.
    std::printf("[!] Rollback failed on adapter #%u \n", entry.index);
    trace::emit(tp::kRollbackFailed, entry.index, result);
  } else {
    const uint32_t reload = updater->reloadFirmware(false);
    out.reload = reload;
    if (reload != 0) {
      trace::emit(tp::kReloadFailed, reload);
      std::puts("/!\\ Rollback succeeded but firmware could not be restarted ");
      needPowerCycle = true;
    }
  }

  // The driver is restarted also after a failed rollback.
  uint32_t restart = 0;
  if (!restartDriverStep(entry, "Restarting device driver... ", &restart)) needPowerCycle = true;
  out.driverRestart = restart;
  std::puts("Firmware rollback finished! ");
  if (needPowerCycle) std::puts("Please power cycle the setup to complete the operation. ");
  out.powerCycleNeeded = needPowerCycle;
  trace::emit(tp::kRollbackFinished, entry.index, result, needPowerCycle);
  return finish(result);
}

}  // namespace hlv
