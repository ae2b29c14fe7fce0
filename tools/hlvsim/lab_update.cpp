#include "tools/hlvsim/lab_update.h"

#include <fstream>
#include <sstream>

#include "engine/firmware_update.h"

namespace hlv::sim {
namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parseId(std::string text, uint16_t& value) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.erase(0, 2);
  if (text.empty() || text.size() > 4) return false;
  uint32_t parsed = 0;
  for (char c : text) {
    const int digit = hexDigit(c);
    if (digit < 0) return false;
    parsed = parsed * 16 + static_cast<uint32_t>(digit);
  }
  value = static_cast<uint16_t>(parsed);
  return true;
}

}  // namespace

bool readLabPciIds(const LabAdapter& adapter, LabPciIds& ids, std::string& error) {
  // The adapter's directory is LAB/adapters/<bdf>.
  const std::string device = adapter.directory + "/../../sys/bus/pci/devices/" + adapter.bdf + "/";
  const std::pair<const char*, uint16_t*> files[] = {
      {"vendor", &ids.vendorId},
      {"device", &ids.deviceId},
      {"subsystem_vendor", &ids.subsystemVendorId},
      {"subsystem_device", &ids.subsystemDeviceId},
  };
  for (const auto& [name, value] : files) {
    std::ifstream in(device + name);
    std::stringstream text;
    text << in.rdbuf();
    if (!in || !parseId(text.str(), *value)) {
      error = device + name + ": not a PCI ID";
      return false;
    }
  }
  return true;
}

bool decodeHexBytes(std::string_view text, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (text.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = hexDigit(text[i]);
    const int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return true;
}

bool updateLabAdapter(const LabAdapter& adapter, VoFlashControlInterface& flash,
                      std::span<const uint8_t> image, std::span<const uint8_t> macData,
                      std::span<const uint8_t> phyData, FlashUpdateStatus& status,
                      std::string& error) {
  LabPciIds ids;
  if (!readLabPciIds(adapter, ids, error)) return false;
  FlashUpdateInput input;
  input.image = image;
  input.vendorId = ids.vendorId;
  input.deviceId = ids.deviceId;
  input.subsystemVendorId = ids.subsystemVendorId;
  input.subsystemDeviceId = ids.subsystemDeviceId;
  input.blobD = macData;
  input.blobE = phyData;
  status = updateFirmware(flash, input);
  return true;
}

}  // namespace hlv::sim
