#include "update/direct_flash_update.h"

#include <span>

#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "device/register_control.h"
#include "engine/firmware_key_check.h"
#include "engine/firmware_update.h"
#include "engine/firmware_version.h"
#include "engine/flash_backup.h"
#include "engine/flash_state.h"
#include "engine/rollback.h"
#include "flashctl/voapiflashcontrol.h"
#include "update/direct_flash_update_trace.h"
#include "update/firmware_control.h"

namespace hlv {
namespace tp = trace_points::direct_flash_update;

namespace {

// Vendor whose functions are never offered for an update.
constexpr uint16_t kExcludedVendorId = 0x106B;
// Boards of the maker that are eligible only with another subsystem vendor.
constexpr uint16_t kRestrictedSubsystemDeviceId = 0x0001;

std::span<const uint8_t> bytesOf(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

DirectFlashUpdate::DirectFlashUpdate() = default;

DirectFlashUpdate::DirectFlashUpdate(const std::string& sysfsPath)
    : pciDevice_(std::make_unique<PciDevice>()) {
  initPciDevice(*pciDevice_, sysfsPath);
  regCtrl_ = openRegisterControl(*pciDevice_);
  trace::emit(tp::kOpened, sysfsPath, pciDevice_->mapping() != nullptr);
}

// The register access goes first: it works on the device's window, which the device gives back
// when it is destroyed.
DirectFlashUpdate::~DirectFlashUpdate() {
  regCtrl_.reset();
}

bool DirectFlashUpdate::isReady() {
  return pciDevice_ != nullptr;
}

uint32_t DirectFlashUpdate::update(const uint8_t* image, uint32_t imageLength,
                                   const std::string& macData, const std::string& phyData) {
  FlashUpdateInput input;
  // The engine reads no further than the length it is given, which it checks.
  if (image != nullptr) input.image = {image, imageLength};
  if (pciDevice_) {
    input.vendorId = pciDevice_->vendorId;
    input.deviceId = pciDevice_->deviceId;
    input.subsystemDeviceId = pciDevice_->subsystemDeviceId;
    input.subsystemVendorId = pciDevice_->subsystemVendorId;
  }
  input.blobD = bytesOf(macData);
  input.blobE = bytesOf(phyData);
  trace::emit(tp::kUpdate, imageLength, static_cast<uint32_t>(macData.size()),
              static_cast<uint32_t>(phyData.size()));
  updated_ = false;
  if (!regCtrl_) {
    trace::emit(tp::kNoAdapter);
    return statusNumber(kStatusFlashInitFailed);
  }
  setReg404Bit0(*regCtrl_, true);
  FlashUpdateStatus result = kStatusSuccess;
  {
    VoApiFlashControl flash(regCtrl_.get());
    flash.setProgressObserver(progress_);
    result = updateFirmware(flash, input);
  }
  trace::emit(tp::kUpdateResult, result);
  updated_ = result == kStatusSuccess;
  return statusNumber(result);
}

uint32_t DirectFlashUpdate::reloadFirmware(bool flag) {
  if (!updated_ || !regCtrl_) {
    trace::emit(tp::kReloadRefused);
    return statusNumber(kStatusAdapterNotUpdated);
  }
  return reloadFirmwareSequence(*regCtrl_, flag);
}

uint32_t DirectFlashUpdate::readFlashContents(uint8_t* buffer, uint32_t capacity,
                                              uint32_t& required) {
  trace::emit(tp::kReadContents, capacity);
  if (!regCtrl_) {
    trace::emit(tp::kNoAdapter);
    return statusNumber(kStatusFlashInitFailed);
  }
  VoApiFlashControl flash(regCtrl_.get());
  flash.setProgressObserver(progress_);
  if (!flash.init()) trace::emit(tp::kReadInitFailed);
  // Without a buffer nothing can be read, whatever capacity is claimed.
  const uint32_t usable = buffer != nullptr ? capacity : 0;
  if (usable < flash.flashSize) {
    trace::emit(tp::kReadBufferTooSmall, capacity, flash.flashSize);
    required = flash.flashSize;
    return kStatusBufferTooSmall;
  }
  const FlashUpdateStatus result = readFlashImage(flash, buffer, flash.flashSize);
  if (result != kStatusSuccess) trace::emit(tp::kReadFailed, result);
  trace::emit(tp::kReadDone, result);
  return statusNumber(result);
}

uint32_t DirectFlashUpdate::rollbackFirmware() {
  trace::emit(tp::kRollback);
  if (!regCtrl_) {
    trace::emit(tp::kNoAdapter);
    return statusNumber(kStatusFlashReadFailed);
  }
  VoApiFlashControl flash(regCtrl_.get());
  flash.setProgressObserver(progress_);
  return statusNumber(rollbackToPreviousImage(flash));
}

uint32_t DirectFlashUpdate::planRollback(std::span<const uint8_t> backup, RollbackPlan& plan) {
  trace::emit(tp::kCheckRollbackBackup, static_cast<uint64_t>(backup.size()));
  if (!regCtrl_) {
    trace::emit(tp::kNoAdapter);
    return statusNumber(kStatusFlashReadFailed);
  }
  VoApiFlashControl flash(regCtrl_.get());
  const FlashUpdateStatus result = hlv::planRollback(flash, backup, plan);
  trace::emit(tp::kRollbackBackupChecked, result);
  return statusNumber(result);
}

uint32_t DirectFlashUpdate::rollbackFromBackup(std::span<const uint8_t> backup) {
  trace::emit(tp::kRollbackFromBackup, static_cast<uint64_t>(backup.size()));
  if (!regCtrl_) {
    trace::emit(tp::kNoAdapter);
    return statusNumber(kStatusFlashReadFailed);
  }
  VoApiFlashControl flash(regCtrl_.get());
  flash.setProgressObserver(progress_);
  return statusNumber(hlv::rollbackFromBackup(flash, backup));
}

bool DirectFlashUpdate::isEligible() {
  if (!pciDevice_ || pciDevice_->vendorId == kExcludedVendorId) return false;
  if (pciDevice_->vendorId == kTessarinVendorId &&
      pciDevice_->subsystemDeviceId == kRestrictedSubsystemDeviceId) {
    return pciDevice_->subsystemVendorId != kLegacySubsystemVendorId;
  }
  return true;
}

uint32_t DirectFlashUpdate::getFirmwareVersions(FirmwareVersion& current,
                                                FirmwareVersion* previous) {
  if (!regCtrl_) {
    trace::emit(tp::kNoAdapter);
    return statusNumber(kStatusFlashInitFailed);
  }
  VoApiFlashControl flash(regCtrl_.get());
  FirmwareVersion version;
  const FlashUpdateStatus result = readCurrentVersion(flash, version);
  if (result == kStatusSuccess) current = version;
  if (previous != nullptr) {
    FirmwareVersion earlier;
    const FlashUpdateStatus previousResult = readPreviousVersion(flash, earlier);
    if (previousResult == kStatusSuccess) *previous = earlier;
    trace::emit(tp::kPreviousVersion, previousResult);
  }
  trace::emit(tp::kVersions, result);
  return statusNumber(result);
}

uint32_t DirectFlashUpdate::readFlashState(FlashState& state) {
  state = {};
  if (!regCtrl_) {
    trace::emit(tp::kNoAdapter);
    return statusNumber(kStatusFlashInitFailed);
  }
  VoApiFlashControl flash(regCtrl_.get());
  return statusNumber(hlv::readFlashState(flash, state));
}

uint32_t DirectFlashUpdate::inspectImage(VoImageFile& image) {
  if (image.size() < kFlashLayoutSize || image.data() == nullptr) {
    trace::emit(tp::kImageTooSmall, image.size());
    return kStatusBufferTooSmall;
  }
  const std::optional<UpdateImage> parsed = UpdateImage::parse({image.data(), image.size()});
  if (!parsed) {
    trace::emit(tp::kImageTypeUnknown);
    return kStatusImageTypeUnknown;
  }
  const uint32_t type = getImageType(*parsed);
  FirmwareVersion version;
  const FlashUpdateStatus result = getImageVersion(*parsed, version);
  if (result == kStatusSuccess) {
    image.setType(type);
    image.setVersion(version);
  }
  trace::emit(tp::kImageInspected, result, type);
  return statusNumber(result);
}

uint32_t DirectFlashUpdate::checkImageKey(const VoImageFile& image) {
  if (image.size() < kFlashLayoutSize || image.data() == nullptr) {
    trace::emit(tp::kKeyImageTooSmall, image.size(), kFlashLayoutSize);
    return kStatusBufferTooSmall;
  }
  // The answer is recorded in the trace only: the check does not stop an update.
  if (regCtrl_) {
    const bool accepted = checkFirmwareKey(*regCtrl_, {image.data(), image.size()});
    trace::emit(tp::kKeyChecked, accepted);
  }
  return statusNumber(kStatusSuccess);
}

uint32_t DirectFlashUpdate::getAdapterType(uint32_t& type) {
  if (pciDevice_) type = isType2DeviceId(pciDevice_->deviceId) ? 2 : 1;
  return statusNumber(kStatusSuccess);
}

}  // namespace hlv
