// The one interface through which the application works on an adapter's firmware: readiness and
// eligibility, the update, the firmware reload after it, the whole-flash read for a backup,
// rollback, the version readout and the checks of an image file.
//
// Header only, so that the layers that merely hold an updater (the adapter record) or use one
// for checking image files do not depend on its implementation.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "shared/firmware_version.h"
#include "shared/flash_state.h"
#include "shared/rollback_plan.h"
#include "shared/status_table.h"

namespace hlv {

class VoImageFile;            // bundle/vo_image_file.h
class FlashProgressObserver;  // shared/flash_progress.h

// The interface's own results besides the engine's: kStatusBufferTooSmall (a whole-flash read
// into a buffer smaller than the flash; an image smaller than 2 MiB) and kStatusImageTypeUnknown.
HLV_UPDATE_INTERFACE_STATUSES(HLV_STATUS_CONSTANT)

class VoFlUpdateIface {
 public:
  virtual ~VoFlUpdateIface() = default;

  // True when the instance is bound to an adapter.
  virtual bool isReady() = 0;
  // Writes the image (a whole 2 MiB flash image) with the board's configuration bytes. 0 on
  // success, otherwise an engine status.
  virtual uint32_t update(const uint8_t* image, uint32_t imageLength, const std::string& macData,
                          const std::string& phyData) = 0;
  // Brings the flashed firmware into service; kStatusAdapterNotUpdated (39) unless an update
  // through this instance has succeeded. The program always passes flag false: the whole
  // reload. With flag true the reload stops after the firmware reset and the PHY restart
  // (interface 1), or only clears bit 3 of PHY register 0x1000 (interface 2).
  virtual uint32_t reloadFirmware(bool flag) = 0;
  // Reads the whole flash into buffer. With a capacity below the flash size:
  // kStatusBufferTooSmall, and required holds the size (a caller learns the size by passing
  // capacity 0).
  virtual uint32_t readFlashContents(uint8_t* buffer, uint32_t capacity, uint32_t& required) = 0;
  // Activates the firmware that ran before the last update.
  virtual uint32_t rollbackFirmware() = 0;
  // What a rollback would rewrite, checked as that rollback checks it; nothing is written. With
  // an empty backup, the ordinary rollback of the flash; with the whole-flash backup saved before
  // a rollback that was cut short (its previous block's first sector erased or half written),
  // the rollback that finishes it from that backup (outside input). 0 with the plan filled in.
  virtual uint32_t planRollback(std::span<const uint8_t> backup, RollbackPlan& plan) = 0;
  // Finishes such a rollback with the backup's previous block (checked again first).
  virtual uint32_t rollbackFromBackup(std::span<const uint8_t> backup) = 0;
  virtual bool isEligible() = 0;
  // What the flash holds, read only: the active block, its layout and firmware, whether that
  // firmware's components match their CRCs, and the rollback's answer. 0, or why the active
  // block could not be read (the state then says what could be). Updaters that reach no flash
  // answer kStatusFlashInitFailed (21).
  virtual uint32_t readFlashState(FlashState& state) {
    state = {};
    return 21;
  }
  // The running firmware's version, and (when previous is not null) the version a rollback
  // would restore. The result is that of the current readout.
  virtual uint32_t getFirmwareVersions(FirmwareVersion& current, FirmwareVersion* previous) = 0;
  // Checks an image file and records its version and type in it; needs no adapter.
  virtual uint32_t inspectImage(VoImageFile& image) = 0;
  // Compares the image's signing key with the adapter's fuses; the answer is traced only.
  virtual uint32_t checkImageKey(const VoImageFile& image) = 0;
  // 1 or 2 from the adapter's PCI device ID; type unchanged without an adapter.
  virtual uint32_t getAdapterType(uint32_t& type) = 0;
  // Who is told of the flash bytes the backup read, the update and the rollback go through
  // (null: nobody); not owned, and kept until changed. Updaters that reach no flash ignore it.
  virtual void setProgressObserver(FlashProgressObserver* observer) { (void)observer; }
  // Why the adapter's registers could not be mapped (an errno), 0 when they were or when the
  // instance reaches no registers.
  virtual int registerMappingError() const { return 0; }
  // The length of the register region the adapter describes (mapped or not), 0 when the instance
  // reaches no registers.
  virtual uint64_t registerWindowLength() const { return 0; }
};

}  // namespace hlv
