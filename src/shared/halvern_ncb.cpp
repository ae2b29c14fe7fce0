#include "shared/halvern_ncb.h"

#include "platform/hlv_assert.h"
#include "shared/crc16.h"

namespace hlv {

namespace detail {
void storeLe24Checked(uint8_t* field, uint32_t value) {
  HLV_ASSERT((value & 0xff000000) == 0);
  field[0] = static_cast<uint8_t>(value);
  field[1] = static_cast<uint8_t>(value >> 8);
  field[2] = static_cast<uint8_t>(value >> 16);
}
}  // namespace detail

const char* ncbAreaName(NcbArea area) {
  constexpr const char* kNames[] = {"areaA", "areaB", "areaC", "areaD", "areaE", "areaF"};
  return kNames[static_cast<uint8_t>(area)];
}

const char* ncbComponentName(NcbComponent component) {
  constexpr const char* kNames[] = {"macPart1", "macPart2", "phyPart1", "phyPart2", "rom"};
  return kNames[static_cast<uint8_t>(component)];
}

std::array<NcbCrcCoverage, 3> ncbCrcCoverage(ConstHalvernNcb ncb) {
  return {{{NcbComponent::kMacPart1, NcbComponent::kMacPart2, ncb.macCrc()},
           {NcbComponent::kPhyPart1, NcbComponent::kPhyPart2, ncb.phyCrc()},
           {NcbComponent::kRom, NcbComponent::kRom, ncb.romCrc()}}};
}

std::optional<uint16_t> computeNcbCrc(ConstHalvernNcb ncb) {
  const uint32_t size = ncb.size();
  if (size < kNcbCrcStart || size > kNcbBlockSize) return std::nullopt;
  return crc16(ncb.data() + kNcbCrcStart, size - kNcbCrcStart);
}

bool updateNcbCrc(HalvernNcb ncb) {
  const std::optional<uint16_t> crc = computeNcbCrc(ncb);
  if (!crc) return false;
  ncb.setCrc(*crc);
  return true;
}

}  // namespace hlv
