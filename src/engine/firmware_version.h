// Reading the firmware version (from the header of MAC firmware part 2, corrected by the
// settings block and its patch records) and the image type.
#pragma once

#include <compare>
#include <cstdint>
#include <span>
#include <string>

#include "engine/flash_update_status.h"
#include "engine/update_image.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/firmware_version.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// Offsets in the MAC part 2 header, from its start.
namespace firmware_header {
inline constexpr uint32_t kMajor = 0x08;
inline constexpr uint32_t kMinor = 0x0C;
inline constexpr uint32_t kBuild = 0x10;
inline constexpr uint32_t kSettingsOffset = 0x24;
inline constexpr uint32_t kPatchOffset = 0x28;
inline constexpr uint32_t kPatchLength = 0x2C;  // u16
inline constexpr uint32_t kSize = 0x30;         // bytes the header words span
// Where the header may start, tried in this order.
inline constexpr uint32_t kSecondPosition = 0x8;
inline constexpr uint32_t kThirdPosition = 0x10000;
// The third position needs a buffer longer than this and zero bytes before kZeroPrefix.
inline constexpr uint32_t kThirdPositionMinSize = 0x1011F;
inline constexpr uint32_t kZeroPrefix = 0xFB90;
inline constexpr uint32_t kSettingsBlockSize = 0x200;
inline constexpr uint32_t kVersionWord = 13;  // settings word that may hold the version
inline constexpr uint32_t kMaxMajor = 4;
}  // namespace firmware_header

// Reads the version from a MAC part 2 buffer. 0 or kStatusVersionUnreadable.
FlashUpdateStatus parseFirmwareVersion(std::span<const uint8_t> buffer, FirmwareVersion& version);

// The version of the firmware a block describes, read from the flash.
FlashUpdateStatus readFirmwareVersion(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                      FirmwareVersion& version);

// The version of the running firmware: that of the active block. kStatusFlashInitFailed,
// kStatusOutOfMemory, kStatusNoValidActiveNcb, or a readFirmwareVersion status.
FlashUpdateStatus readCurrentVersion(VoFlashControlInterface& flashCtrl, FirmwareVersion& version);

// The version a rollback would restore: that of the block that is not the active one.
// kStatusFlashReadFailed (also for no memory or no interface), kStatusImageInvalid when no
// block is active, a validateNcb status (checked as if active), or a readFirmwareVersion status.
FlashUpdateStatus readPreviousVersion(VoFlashControlInterface& flashCtrl, FirmwareVersion& version);

// The version of the firmware an update image carries: kStatusVersionUnreadable when its MAC
// part 2 lies past the image's end, is too short or holds no readable version.
FlashUpdateStatus getImageVersion(const UpdateImage& image, FirmwareVersion& version);
// The same on image bytes not parsed yet: kStatusImageInvalid when they do not parse.
FlashUpdateStatus getImageVersion(std::span<const uint8_t> image, FirmwareVersion& version);

// The image type (1 or 2) from the PCI device ID stored in the image's areaB.
uint32_t getImageType(const UpdateImage& image);
// The same on image bytes not parsed yet; false when they do not parse.
bool getImageType(std::span<const uint8_t> image, uint32_t& type);

// Device IDs of the type-2 adapter family.
bool isType2DeviceId(uint16_t deviceId);

// Where the PCI device ID lies in areaB.
inline constexpr uint32_t kAreaBDeviceIdOffset = 10;

}  // namespace hlv
