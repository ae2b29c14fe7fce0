// The entries of the update database: board entries that name an image and the adapters it
// serves, and aliases that send adapters on particular system boards to a chosen board entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hlv {

// One PCI identity; an identifier missing from the file is 0.
struct HwId {
  uint16_t vid = 0;
  uint16_t did = 0;
  uint16_t sdid = 0;
  uint16_t svid = 0;
};

// The DMI board name; the only kind the database gives.
inline constexpr uint32_t kSystemIdBaseboard = 0;

// One system board a rule applies to. A kind other than the board name never matches.
struct SystemId {
  uint32_t kind = kSystemIdBaseboard;
  std::string value;  // kept exactly as written, white space and line feeds included
};

// One board entry.
struct BdpEntry {
  std::vector<uint8_t> mac;  // board-specific MAC configuration bytes
  std::vector<uint8_t> phy;  // board-specific PHY configuration bytes
  std::vector<HwId> hwids;
  std::string image;  // the image file's name inside the bundle
  std::string id;
};

// One alias: adapters matching hwids on one of the system boards take the entry bdpId.
struct AliasEntry {
  std::vector<HwId> hwids;
  std::vector<SystemId> systemIds;
  std::string id;
  std::string bdpId;
};

// Writes the trace records that describe an entry: its id, each HwId with its 1-based number,
// the configuration bytes as lower-case hexadecimal text ("<none>" when empty) and the image
// name; for an alias its system boards and the board entry it selects.
void traceBdpEntry(const BdpEntry& entry);
void traceAliasEntry(const AliasEntry& entry);

// "a1b2c3" for the bytes A1 B2 C3; "<none>" for no bytes.
std::string describeBytes(const std::vector<uint8_t>& bytes);

}  // namespace hlv
