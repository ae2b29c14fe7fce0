// Which board entry of the update database an adapter takes: an alias that names the adapter and
// the machine's system board wins; otherwise the first board entry listing the adapter's exact
// PCI identity.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "bundle/update_database.h"

namespace hlv {

// An adapter's PCI identity, compared field by field with a HwId; there are no wildcards.
struct AdapterKey {
  uint16_t vid = 0;
  uint16_t did = 0;
  uint16_t sdid = 0;
  uint16_t svid = 0;
};

// The values read for each kind of system identity, kept for one building of the adapter list.
// Only successful reads are kept.
using SystemInfoCache = std::map<uint32_t, std::string>;

// The board entry for the adapter, or null. An alias that matches but names no board entry gives
// null: it does not fall back to the identity search.
const BdpEntry* findBdpEntry(const UpdateDatabase& database, const AdapterKey& key,
                             SystemInfoCache& cache);

// True when the alias lists the adapter's identity and one of its system boards equals this
// machine's byte for byte. An alias without a system board never matches.
bool aliasMatches(const AliasEntry& alias, const AdapterKey& key, SystemInfoCache& cache);

// The text of a system identity: for the board name, the first line of
// "/sys/devices/virtual/dmi/id/board_name" as read, with its line feed. Empty when it cannot be
// read (tried again on the next call) or for an unknown kind.
std::string systemIdValue(SystemInfoCache& cache, uint32_t kind);

}  // namespace hlv
