// The firmware update of one lab adapter, as the tool's update would run it on a real one: the
// adapter's PCI IDs come from the lab's sysfs files, the configuration blobs from the caller.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "sim/lab.h"

namespace hlv::sim {

struct LabPciIds {
  uint16_t vendorId = 0;
  uint16_t deviceId = 0;
  uint16_t subsystemVendorId = 0;
  uint16_t subsystemDeviceId = 0;
};

// Reads "vendor", "device", "subsystem_vendor" and "subsystem_device" of the adapter's function
// under LAB/sys/bus/pci/devices/<bdf>. False with a message when one is missing or not a 16-bit
// hex number ("0x1e9c" or "1e9c", a line feed after it).
bool readLabPciIds(const LabAdapter& adapter, LabPciIds& ids, std::string& error);

// Bytes from hex digits, two per byte, upper or lower case ("" is no bytes). False for an odd
// count or another character.
bool decodeHexBytes(std::string_view text, std::vector<uint8_t>& bytes);

// Runs the engine's update on the adapter's flash through `flash` (a flash control on that
// adapter), with blob D = `macData` and blob E = `phyData`. The engine's status; a status is
// also returned for an image the engine refuses. False (nothing done) with a message when the
// adapter's PCI IDs cannot be read.
bool updateLabAdapter(const LabAdapter& adapter, VoFlashControlInterface& flash,
                      std::span<const uint8_t> image, std::span<const uint8_t> macData,
                      std::span<const uint8_t> phyData, FlashUpdateStatus& status,
                      std::string& error);

}  // namespace hlv::sim
