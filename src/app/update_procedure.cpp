#include "app/update_procedure.h"

#include <cstdio>

#include "app/backup_file.h"
#include "app/console.h"
#include "app/driver_restart_step.h"
#include "app/progress_line.h"
#include "app/update_procedure_trace.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "platform/interrupt_hold.h"
#include "platform/platform.h"
#include "shared/halvern_ncb.h"
#include "update/voflupdateiface.h"

namespace hlv {
namespace tp = trace_points::update_procedure;
namespace {

// The image type whose firmware can be restarted without a power cycle.
inline constexpr uint32_t kReloadableImageType = 1;

}  // namespace

uint32_t updateAdapter(const AdapterEntry& entry, const trace::LogDirectory& logDirectory,
                       AdapterOutcome* outcome) {
  AdapterOutcome unrecorded;
  AdapterOutcome& out = outcome != nullptr ? *outcome : unrecorded;
  out = {};
  out.attempted = true;
  // Until the update has run, the flash holds what it held.
  out.firmwareAfter = entry.currentVersion;
  out.startedNs = platform::current().monotonicNanoseconds();
  trace::emit(tp::kUpdateStarted, entry.index);
  const AdapterInfo* adapter = entry.adapter.get();
  std::puts("=== ");
  std::printf("+ Adapter: %s \n", entry.name().c_str());
  std::printf("|-- HWID:  VEN_%04X&DEV_%04X&SUBSYS_%04X%04X \n", adapter ? adapter->vendorId : 0u,
              adapter ? adapter->deviceId : 0u, adapter ? adapter->subsystemDeviceId : 0u,
              adapter ? adapter->subsystemVendorId : 0u);

  // Nothing is written to the flash unless the whole of it is saved first.
  showStep("|-- Backing up... ");
  SavedBackup saved;
  uint32_t result = backupAdapterImage(entry, logDirectory, nullptr, &saved);
  out.backupStatus = result;
  if (result != 0) {
    trace::emit(tp::kBackupFailed, result);
    std::puts("[FAILED] ");
    std::printf("|-- %s\n===\n \n", "Update stopped: firmware has not been updated");
    out.result = result;
    out.endedNs = platform::current().monotonicNanoseconds();
    return result;
  }
  out.backupFile = saved.fileName;
  out.backupSize = saved.size;
  out.backupDigest = saved.digest;
  std::puts("[OK] ");

  // From here the flash may change. An interrupt that came during the backup ends the run now,
  // the flash untouched; one that comes later is held until the block is finished (update,
  // firmware reload, driver bound again, the power-cycle line), and then ends the run.
  platform::interruptCheckpoint();
  const platform::InterruptHold untilTheBlockEnds;
  showStep("|-- Updating... ");
  const VoImageFile* image = entry.selectedImage.get();
  VoFlUpdateIface* updater = nullptr;
  if (image == nullptr || image->size() == 0) {
    trace::emit(tp::kNoImage, entry.index);
    result = kUpdateNotPossible;
  } else if ((updater = entry.readyUpdater()) == nullptr) {
    trace::emit(tp::kNoUpdateInterface, entry.index);
    result = kUpdateNotPossible;
  } else {
    // The update erases the bank the running firmware does not use and writes the image's
    // components into it.
    ProgressLine progress(*updater, progressTerminal());
    progress.expectUpdate(kBankLength, firmwareBytes({image->data(), image->size()}));
    result = updater->update(image->data(), image->size(), entry.macData, entry.phyData);
  }

  bool needPowerCycle = true;
  out.result = result;
  // The update writes only the bank the running firmware does not use, and makes it the active
  // one last: a failed update leaves the running firmware active.
  out.firmwareAfter = result == 0 ? image->version() : entry.currentVersion;
  if (result != 0) {
    trace::emit(tp::kUpdateFailed, result);
    std::printf("[FAILED : %u] \n", result);
  } else {
    trace::emit(tp::kUpdated);
    std::puts("[OK] ");
    const FirmwareVersion& version = image->version();
    std::printf("|-- New firmware version: %u.%u.%u \n", version.major, version.minor,
                version.build);
    if (entry.imageType == kReloadableImageType) {
      showStep("|-- Trying to reload firmware... ");
      const uint32_t reload = updater->reloadFirmware(false);
      out.reload = reload;
      trace::emit(tp::kReloadResult, reload);
      needPowerCycle = reload != 0;
      std::puts(needPowerCycle ? "[FAILED] " : "[OK] ");
    } else {
      // The new firmware of the other type starts only after a power cycle.
      trace::emit(tp::kReloadNotTried, entry.imageType);
    }
  }

  // The driver takes the adapter up again whatever became of the update.
  uint32_t restart = 0;
  if (!restartDriverStep(entry, "|-- Restarting device driver... ", &restart))
    needPowerCycle = true;
  out.driverRestart = restart;
  if (needPowerCycle) std::puts("|-- To complete update process please power cycle your PC. ");
  out.powerCycleNeeded = needPowerCycle;
  trace::emit(tp::kUpdateFinished, entry.index, result, needPowerCycle);
  std::puts("===\n ");
  out.endedNs = platform::current().monotonicNanoseconds();
  return result;
}

}  // namespace hlv
