// Placeholder bodies: no adapter can be reached through this interface yet.
#include "update/direct_flash_update.h"

#include "device/pci_discovery.h"

namespace hlv {

DirectFlashUpdate::DirectFlashUpdate() = default;
DirectFlashUpdate::DirectFlashUpdate(const std::string& sysfsPath) { (void)sysfsPath; }
DirectFlashUpdate::~DirectFlashUpdate() = default;

bool DirectFlashUpdate::isReady() { return false; }
uint32_t DirectFlashUpdate::update(const uint8_t*, uint32_t, const std::string&,
                                   const std::string&) {
  return 21;
}
uint32_t DirectFlashUpdate::reloadFirmware(bool) { return 39; }
uint32_t DirectFlashUpdate::readFlashContents(uint8_t*, uint32_t, uint32_t&) { return 21; }
uint32_t DirectFlashUpdate::rollbackFirmware() { return 15; }
bool DirectFlashUpdate::isEligible() { return false; }
uint32_t DirectFlashUpdate::getFirmwareVersions(FirmwareVersion&, FirmwareVersion*) { return 21; }
uint32_t DirectFlashUpdate::inspectImage(VoImageFile&) { return 12; }
uint32_t DirectFlashUpdate::checkImageKey(const VoImageFile&) { return 0; }
uint32_t DirectFlashUpdate::getAdapterType(uint32_t&) { return 0; }

bool openUpdater(AdapterInfo& adapter) {
  adapter.updater = std::make_unique<DirectFlashUpdate>(adapter.sysfsPath);
  return adapter.updater->isReady();
}

}  // namespace hlv
