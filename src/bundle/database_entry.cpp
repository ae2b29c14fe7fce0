#include "bundle/database_entry.h"

#include "bundle/database_entry_trace.h"

namespace hlv {
namespace {

namespace tp = trace_points::database_entry;

}  // namespace

std::string describeBytes(const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return "<none>";
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

void traceBdpEntry(const BdpEntry& entry) {
  trace::emit(tp::kBdpId, entry.id);
  uint32_t number = 0;
  for (const HwId& hwid : entry.hwids)
    trace::emit(tp::kBdpHwId, ++number, hwid.vid, hwid.did, hwid.sdid, hwid.svid);
  trace::emit(tp::kBdpMac, describeBytes(entry.mac));
  trace::emit(tp::kBdpPhy, describeBytes(entry.phy));
  trace::emit(tp::kBdpImage, entry.image);
}

void traceAliasEntry(const AliasEntry& entry) {
  trace::emit(tp::kAliasId, entry.id);
  uint32_t number = 0;
  for (const HwId& hwid : entry.hwids)
    trace::emit(tp::kAliasHwId, ++number, hwid.vid, hwid.did, hwid.sdid, hwid.svid);
  number = 0;
  for (const SystemId& systemId : entry.systemIds) {
    trace::emit(tp::kAliasSystemId, ++number,
                systemId.kind == kSystemIdBaseboard ? "baseboard" : "<unknown>", systemId.value);
  }
  trace::emit(tp::kAliasBdpId, entry.bdpId);
}

}  // namespace hlv
