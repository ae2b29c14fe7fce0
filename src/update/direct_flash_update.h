// The adapter update interface on an adapter reached directly through its mapped register window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/pci_device.h"
#include "device/voregcontrolinterface.h"
#include "shared/flash_progress.h"
#include "update/voflupdateiface.h"

namespace hlv {

struct AdapterInfo;

class DirectFlashUpdate : public VoFlUpdateIface {
 public:
  // Bound to no adapter: serves inspectImage only.
  DirectFlashUpdate();
  // Bound to the adapter whose sysfs directory is sysfsPath: its register window is mapped (a
  // failed mapping gives register access whose reads return 0xFFFFFFFF).
  explicit DirectFlashUpdate(const std::string& sysfsPath);
  ~DirectFlashUpdate() override;
  DirectFlashUpdate(const DirectFlashUpdate&) = delete;
  DirectFlashUpdate& operator=(const DirectFlashUpdate&) = delete;

  bool isReady() override;
  uint32_t update(const uint8_t* image, uint32_t imageLength, const std::string& macData,
                  const std::string& phyData) override;
  uint32_t reloadFirmware(bool flag) override;
  uint32_t readFlashContents(uint8_t* buffer, uint32_t capacity, uint32_t& required) override;
  uint32_t rollbackFirmware() override;
  uint32_t planRollback(std::span<const uint8_t> backup, RollbackPlan& plan) override;
  uint32_t rollbackFromBackup(std::span<const uint8_t> backup) override;
  bool isEligible() override;
  uint32_t getFirmwareVersions(FirmwareVersion& current, FirmwareVersion* previous) override;
  uint32_t readFlashState(FlashState& state) override;
  uint32_t inspectImage(VoImageFile& image) override;
  uint32_t checkImageKey(const VoImageFile& image) override;
  uint32_t getAdapterType(uint32_t& type) override;
  void setProgressObserver(FlashProgressObserver* observer) override { progress_ = observer; }
  int registerMappingError() const override { return pciDevice_ ? pciDevice_->mapError : 0; }
  uint64_t registerWindowLength() const override {
    return pciDevice_ ? pciDevice_->resources[0].size : 0;
  }

  // The adapter's register access, null without an adapter (for the firmware control sequences
  // and the key check run on their own, as the emulator's tools do).
  VoRegControlInterface* registers() const { return regCtrl_.get(); }

 private:
  std::unique_ptr<PciDevice> pciDevice_;            // null without an adapter
  std::unique_ptr<VoRegControlInterface> regCtrl_;  // null without an adapter
  bool updated_ = false;                            // the last update returned 0
  FlashProgressObserver* progress_ = nullptr;       // not owned
};

// Gives the adapter a new update interface (replacing any earlier one) and answers whether it is
// ready.
bool openUpdater(AdapterInfo& adapter);

}  // namespace hlv
