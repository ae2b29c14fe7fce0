// An adapter update interface for tests of the layers above it: every operation answers what the
// test set and counts its calls; an optional hook runs when it is destroyed.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bundle/vo_image_file.h"
#include "update/voflupdateiface.h"

namespace hlv::test {

class FakeUpdater : public VoFlUpdateIface {
 public:
  ~FakeUpdater() override {
    if (onDestroy) onDestroy();
  }

  bool isReady() override {
    ++calls.isReady;
    return ready;
  }
  uint32_t update(const uint8_t* image, uint32_t imageLength, const std::string& macData,
                  const std::string& phyData) override {
    ++calls.update;
    lastImage = image;
    lastImageLength = imageLength;
    lastMacData = macData;
    lastPhyData = phyData;
    updated = updateResult == 0;
    return updateResult;
  }
  uint32_t reloadFirmware(bool flag) override {
    ++calls.reloadFirmware;
    lastReloadFlag = flag;
    return updated ? reloadResult : 39;
  }
  uint32_t readFlashContents(uint8_t* buffer, uint32_t capacity, uint32_t& required) override {
    ++calls.readFlashContents;
    if (capacity < flash.size()) {
      required = static_cast<uint32_t>(flash.size());
      return 8;
    }
    if (readResult != 0) return readResult;
    for (std::size_t i = 0; i < flash.size(); ++i)
      buffer[i] = flash[i];
    if (lengthAfterRead) required = *lengthAfterRead;
    return 0;
  }
  uint32_t rollbackFirmware() override {
    ++calls.rollbackFirmware;
    return rollbackResult;
  }
  uint32_t planRollback(std::span<const uint8_t> backup, RollbackPlan& plan) override {
    ++calls.planRollback;
    RollbackPlan planned = rollbackPlan;
    planned.current = currentVersion;
    planned.previous = previousVersion;
    if (!backup.empty()) {
      checkedBackups.emplace_back(backup.begin(), backup.end());
      if (backupCheck == nullptr) return 24;
      const uint32_t result = backupCheck(backup);
      if (result != 0) return result;
      planned.previous = backupPreviousVersion;
    } else if (planResult != 0) {
      return planResult;
    }
    plan = planned;
    return 0;
  }
  uint32_t rollbackFromBackup(std::span<const uint8_t> backup) override {
    ++calls.rollbackFromBackup;
    rolledBackFrom.assign(backup.begin(), backup.end());
    return rollbackResult;
  }
  bool isEligible() override {
    ++calls.isEligible;
    return eligible;
  }
  uint32_t getFirmwareVersions(FirmwareVersion& current, FirmwareVersion* previous) override {
    ++calls.getFirmwareVersions;
    if (versionsResult == 0) current = currentVersion;
    if (previous != nullptr) *previous = previousVersion;
    return versionsResult;
  }
  uint32_t inspectImage(VoImageFile& image) override {
    ++calls.inspectImage;
    if (inspectResult == 0) {
      image.setVersion(imageVersion);
      image.setType(imageType);
    }
    return inspectResult;
  }
  uint32_t checkImageKey(const VoImageFile&) override {
    ++calls.checkImageKey;
    return keyResult;
  }
  uint32_t getAdapterType(uint32_t& type) override {
    ++calls.getAdapterType;
    if (ready && adapterTypeResult == 0) type = adapterType;
    return adapterTypeResult;
  }
  void setProgressObserver(FlashProgressObserver* observer) override { progress = observer; }
  int registerMappingError() const override { return mappingError; }
  uint64_t registerWindowLength() const override { return windowLength; }

  // Answers.
  bool ready = true;
  bool eligible = true;
  uint32_t updateResult = 0;
  uint32_t reloadResult = 0;
  uint32_t readResult = 0;
  uint32_t rollbackResult = 0;  // also of rollbackFromBackup
  // The answer of planRollback without a backup, and the plan it gives (its versions are the
  // ones above, or backupPreviousVersion for an accepted backup).
  uint32_t planResult = 0;
  RollbackPlan rollbackPlan{0xEF6015, 0x200000, 0x1000, 0x4000, 0x0, {}, {}};
  // The answer of planRollback for the backup bytes it is given; none refuses every backup.
  std::function<uint32_t(std::span<const uint8_t>)> backupCheck;
  FirmwareVersion backupPreviousVersion;  // what an accepted backup restores
  uint32_t versionsResult = 0;
  uint32_t inspectResult = 0;
  uint32_t keyResult = 0;
  uint32_t adapterTypeResult = 0;
  uint32_t adapterType = 2;
  FirmwareVersion currentVersion;
  FirmwareVersion previousVersion;
  FirmwareVersion imageVersion;
  uint32_t imageType = 2;
  std::vector<uint8_t> flash;  // what readFlashContents gives
  // What a successful read leaves as the length; unchanged when none.
  std::optional<uint32_t> lengthAfterRead;
  std::function<void()> onDestroy;
  int mappingError = 0;              // why the registers could not be mapped (an errno)
  uint64_t windowLength = 0x400000;  // the length of the adapter's register region

  // What was asked.
  struct Calls {
    int isReady = 0, update = 0, reloadFirmware = 0, readFlashContents = 0, rollbackFirmware = 0,
        isEligible = 0, getFirmwareVersions = 0, inspectImage = 0, checkImageKey = 0,
        getAdapterType = 0, planRollback = 0, rollbackFromBackup = 0;
  } calls;
  std::vector<std::vector<uint8_t>> checkedBackups;  // every backup checked, in order
  std::vector<uint8_t> rolledBackFrom;               // the backup of the last rollbackFromBackup
  bool updated = false;
  const uint8_t* lastImage = nullptr;
  uint32_t lastImageLength = 0;
  std::string lastMacData, lastPhyData;
  bool lastReloadFlag = false;
  FlashProgressObserver* progress = nullptr;  // who is told of flash bytes, as last set
};

}  // namespace hlv::test
