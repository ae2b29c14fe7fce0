#include "bundle/bdp_lookup.h"

#include <cstdio>

#include "bundle/bdp_lookup_trace.h"
#include "platform/platform.h"

namespace hlv {
namespace tp = trace_points::bdp_lookup;
namespace {

inline constexpr const char* kBoardNamePath = "/sys/devices/virtual/dmi/id/board_name";
// One line of at most 255 characters, as the kernel's attribute files hold them.
inline constexpr int kBoardNameBufferSize = 256;

bool sameIdentity(const HwId& hwid, const AdapterKey& key) {
  return hwid.vid == key.vid && hwid.did == key.did && hwid.sdid == key.sdid &&
         hwid.svid == key.svid;
}

bool listsIdentity(const std::vector<HwId>& hwids, const AdapterKey& key) {
  for (const HwId& hwid : hwids) {
    if (sameIdentity(hwid, key)) return true;
  }
  return false;
}

}  // namespace

std::string systemIdValue(SystemInfoCache& cache, uint32_t kind) {
  if (const auto known = cache.find(kind); known != cache.end()) return known->second;
  if (kind != kSystemIdBaseboard) return {};

  const std::string path = platform::current().hostPath(kBoardNamePath);
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return {};
  char line[kBoardNameBufferSize] = {};
  const bool haveLine = std::fgets(line, sizeof line, file) != nullptr;
  std::fclose(file);
  if (!haveLine) return {};
  // The line feed the kernel writes after the name stays part of it.
  return cache[kind] = line;
}

bool aliasMatches(const AliasEntry& alias, const AdapterKey& key, SystemInfoCache& cache) {
  if (!listsIdentity(alias.hwids, key)) return false;
  for (const SystemId& systemId : alias.systemIds) {
    // A board name that cannot be read matches nothing, not even an empty text.
    const std::string value = systemIdValue(cache, systemId.kind);
    if (!value.empty() && systemId.value == value) return true;
  }
  return false;
}

const BdpEntry* findBdpEntry(const UpdateDatabase& database, const AdapterKey& key,
                             SystemInfoCache& cache) {
  for (const AliasEntry& alias : database.aliases) {
    if (!aliasMatches(alias, key, cache)) continue;
    for (const BdpEntry& entry : database.bdps) {
      if (entry.id == alias.bdpId) {
        trace::emit(tp::kAliasMatched);
        traceAliasEntry(alias);
        return &entry;
      }
    }
    // The alias decides even when its target is missing: no fallback, no later alias.
    trace::emit(tp::kAliasTargetMissing, alias.bdpId, alias.id);
    return nullptr;
  }
  for (const BdpEntry& entry : database.bdps) {
    if (listsIdentity(entry.hwids, key)) return &entry;
  }
  return nullptr;
}

}  // namespace hlv
