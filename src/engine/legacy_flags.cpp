#include "engine/legacy_flags.h"

#include <algorithm>

#include "engine/flash_layout.h"
#include "engine/legacy_flags_trace.h"
#include "engine/record_stream.h"

namespace hlv {
namespace tp = trace_points::legacy_flags;

namespace {

// clang-format off
constexpr LegacyFlagEntry kPhyTable[] = {
    {0xE0EF, 0, 0}, {0xBB05, 1, 0}, {0xBD0A, 0, 0}, {0x934B, 1, 0}, {0x92BD, 0, 0},
    {0x7E32, 1, 0}, {0xD786, 0, 0}, {0x66EC, 1, 0}, {0xF3B3, 0, 0}, {0x8363, 0, 0},
    {0x42D3, 0, 0}, {0x53E5, 0, 0}, {0x6549, 0, 0}, {0x4DB6, 0, 0}, {0x5E39, 0, 0},
    {0xB9CF, 0, 0}, {0xE930, 1, 0}, {0x2678, 1, 0}, {0x9C04, 1, 0}, {0x14A8, 1, 0},
    {0xD5F6, 1, 0}, {0xE8AD, 1, 0}, {0x44BA, 1, 0}, {0x1CD4, 1, 0}, {0x3290, 0, 0},
    {0x1D8C, 0, 0}, {0xBB3E, 0, 0}, {0x51AA, 0, 0}, {0x4048, 0, 0}, {0x377B, 0, 0},
    {0x7B38, 0, 0}, {0xC302, 0, 0}, {0x8D75, 1, 0}, {0xB897, 1, 0}, {0x65E9, 1, 0},
    {0xA8C0, 1, 0}, {0xFFAD, 1, 0}, {0x9260, 1, 0}, {0xC4DD, 1, 0}, {0x6619, 1, 0},
    {0x3D08, 0, 0}, {0x8830, 1, 0}, {0xDC08, 0, 0}, {0x6A44, 1, 0}, {0x4D8D, 0, 0},
    {0x698B, 0, 0}, {0x9716, 1, 0}, {0x73FE, 0, 0}, {0xF5DB, 1, 0}, {0xB8EE, 0, 0},
    {0x80D9, 1, 0}, {0x97D0, 0, 0}, {0x585D, 1, 0}, {0xF577, 0, 0}, {0x587A, 1, 0},
    {0xE991, 0, 0}, {0xC268, 1, 0},
};

constexpr LegacyFlagEntry kMacTable[] = {
    {0x96BE, 0, 0}, {0xCE7B, 0, 0}, {0x61EF, 0, 0}, {0xF3A1, 0, 0}, {0x8AC3, 0, 0},
    {0x3A9F, 0, 0}, {0x6C35, 0, 0}, {0x1810, 0, 0}, {0xC959, 0, 0}, {0x21F2, 0, 0},
    {0x70D2, 0, 0}, {0x3334, 1, 0}, {0x21C5, 0, 0}, {0xF108, 1, 0}, {0x5DE8, 0, 0},
    {0x5F8A, 0, 0}, {0x2C0E, 0, 0}, {0x496C, 1, 0}, {0x976F, 0, 0}, {0xF20D, 1, 0},
    {0x424A, 0, 0}, {0x2A74, 0, 0}, {0x5242, 0, 0}, {0xBED7, 1, 0}, {0x1C07, 0, 0},
    {0xF092, 1, 0}, {0x426F, 0, 0}, {0x4D70, 1, 0}, {0x5A1F, 0, 0}, {0x5500, 1, 0},
    {0xC50D, 0, 0}, {0x0CC6, 1, 0}, {0x972A, 0, 0}, {0xB162, 1, 0}, {0x53DD, 0, 0},
    {0xD618, 1, 0}, {0x5EA3, 0, 0}, {0xDB66, 1, 0}, {0x4529, 0, 0}, {0x029C, 0, 0},
    {0xB193, 1, 0}, {0x89BC, 0, 0}, {0x3AB3, 1, 0}, {0x3AE6, 0, 0}, {0xD991, 0, 0},
    {0xE1BF, 1, 0}, {0xEF23, 0, 0}, {0xD70D, 1, 0}, {0xDC96, 0, 0}, {0xE4B8, 1, 0},
    {0xEDBA, 0, 0}, {0xD594, 1, 0}, {0xDE0F, 0, 0}, {0xE621, 1, 0},
};
// clang-format on

constexpr uint32_t kAreaDGroupArgument = 0x10;
constexpr uint32_t kAreaDIndex = 0;
constexpr uint32_t kAreaEGroupArgument = 1;
constexpr uint32_t kAreaEIndex = 0xE400;
constexpr int kRecordFound = 1;  // a visitor result that stops the walk

bool searchArea(std::span<const uint8_t> area, const RecordStreamFormat& format,
                uint32_t groupArgument, uint32_t index, uint32_t secondMask) {
  bool found = false;
  uint32_t consumed = 0;
  const int result = walkRecordStream(
      area, format,
      [&](const RecordEntry& entry) {
        if (entry.groupArgument == groupArgument && entry.index == index &&
            (entry.second & secondMask) == secondMask) {
          found = true;
          return kRecordFound;
        }
        return kRecordContinue;
      },
      consumed);
  trace::emit(tp::kAreaSearched, static_cast<int32_t>(result), consumed, found);
  return found;
}

// The bytes of an in-block area when it holds anything but zeros.
std::optional<std::span<const uint8_t>> areaRecords(ConstHalvernNcb ncb, NcbArea which) {
  const uint32_t offset = ncb.areaOffsetInBlock(which);
  const uint32_t length = ncb.area(which).length;
  if (length == 0) return std::nullopt;
  if (offset + length > kNcbBlockSize) {
    trace::emit(tp::kAreaOutsideBlock, static_cast<uint8_t>(which), offset, length);
    return std::nullopt;
  }
  if (isEmpty(ncb.data() + offset, length)) return std::nullopt;
  return std::span<const uint8_t>(ncb.data() + offset, length);
}

}  // namespace

const std::span<const LegacyFlagEntry> kPhyLegacyFlags = kPhyTable;
const std::span<const LegacyFlagEntry> kMacLegacyFlags = kMacTable;

std::optional<bool> lookupLegacyFlag(std::span<const LegacyFlagEntry> table, uint16_t crc) {
  const auto found = std::find_if(table.begin(), table.end(),
                                  [crc](const LegacyFlagEntry& entry) { return entry.crc == crc; });
  if (found == table.end()) return std::nullopt;
  return found->flag != 0;
}

bool searchAreaDFlag(std::span<const uint8_t> area) {
  return searchArea(area, kRecordStream32, kAreaDGroupArgument, kAreaDIndex, 0x1);
}

bool searchAreaEFlag(std::span<const uint8_t> area) {
  return searchArea(area, kRecordStream16, kAreaEGroupArgument, kAreaEIndex, 0x3);
}

bool isNewLegacyFirmware(const FirmwareVersion& version) {
  if (version.major == 1) return version.minor > 5 || (version.minor == 5 && version.build > 86);
  if (version.major == 3) return version.minor > 0 || version.build > 18;
  return false;
}

bool determineLegacyFlags(ConstHalvernNcb activeNcb, const FirmwareVersion& current,
                          bool& areaDFlag, bool& areaEFlag) {
  const bool newFirmware = isNewLegacyFirmware(current);
  trace::emit(tp::kDetermine, current.major, current.minor, current.build, newFirmware);

  if (const auto records = areaRecords(activeNcb, NcbArea::kD)) {
    areaDFlag = searchAreaDFlag(*records);
  } else if (const std::optional<bool> flag =
                 lookupLegacyFlag(kMacLegacyFlags, activeNcb.macCrc())) {
    areaDFlag = *flag;
  } else if (newFirmware) {
    areaDFlag = false;
  } else {
    trace::emit(tp::kMacCrcUnknown, activeNcb.macCrc(), current.major, current.minor,
                current.build);
    return false;
  }

  if (const auto records = areaRecords(activeNcb, NcbArea::kE)) {
    areaEFlag = searchAreaEFlag(*records);
  } else if (const std::optional<bool> flag =
                 lookupLegacyFlag(kPhyLegacyFlags, activeNcb.phyCrc())) {
    areaEFlag = *flag;
  } else if (newFirmware) {
    areaEFlag = false;
  } else {
    trace::emit(tp::kPhyCrcUnknown, activeNcb.phyCrc(), current.major, current.minor,
                current.build);
    return false;
  }
  trace::emit(tp::kFlags, areaDFlag, areaEFlag);
  return true;
}

}  // namespace hlv
