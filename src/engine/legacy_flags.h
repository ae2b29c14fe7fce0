// The two configuration flags that boards of the legacy family carry from firmware to firmware:
// flag D in a record of areaD, flag E in a record of areaE. A block written by this program
// has them in those records; a block from the factory may not, and then the flag is known from
// the CRC of the firmware it describes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/firmware_version.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// One entry of a flag table: a component CRC and the flag the firmware with that CRC has.
struct LegacyFlagEntry {
  uint16_t crc;
  uint8_t flag;
  uint8_t zero;
};

// Looked up with the block's phyCrc, and with its macCrc.
extern const std::span<const LegacyFlagEntry> kPhyLegacyFlags;
extern const std::span<const LegacyFlagEntry> kMacLegacyFlags;

// The flag of the first entry with this CRC, or none.
std::optional<bool> lookupLegacyFlag(std::span<const LegacyFlagEntry> table, uint16_t crc);

// Flag D from an areaD record stream (32-bit words): set when a group with argument 0x10 holds
// an entry with index 0 whose second value has bit 0 set. A format error or the end of the
// stream without such an entry gives false.
bool searchAreaDFlag(std::span<const uint8_t> area);
// Flag E from an areaE record stream (16-bit words): set when a group with argument 1 holds an
// entry with index 0xE400 whose second value has bits 1:0 both set.
bool searchAreaEFlag(std::span<const uint8_t> area);

// The running firmware is new enough to decide a flag the tables do not know (as 0): above
// 1.5.86 with major 1, above 3.0.18 with major 3, never with another major.
bool isNewLegacyFirmware(const FirmwareVersion& version);

// Decides both flags for the active block: from its areas where they hold records (an area
// of length 0 or of zero bytes only holds none), else from the tables, else 0 for new
// firmware. False (trace record) when a flag cannot be decided: old firmware whose CRC the
// table does not know.
bool determineLegacyFlags(ConstHalvernNcb activeNcb, const FirmwareVersion& current,
                          bool& areaDFlag, bool& areaEFlag);

}  // namespace hlv
