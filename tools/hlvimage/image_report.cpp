#include "tools/hlvimage/image_report.h"

#include <algorithm>
#include <cinttypes>
#include <vector>

#include "engine/flash_layout.h"
#include "engine/ncb.h"
#include "engine/ncb_layout.h"
#include "shared/crc16.h"
#include "tools/hlvimage/memory_flash.h"
#include "tools/hlvimage/report_format.h"

namespace hlv::image {

namespace {

struct CheckPlan {
  const char* name;
  std::array<NcbComponent, 2> parts;
  uint32_t partCount;
};
constexpr CheckPlan kCheckPlans[] = {
    {"mac", {NcbComponent::kMacPart1, NcbComponent::kMacPart2}, 2},
    {"phy", {NcbComponent::kPhyPart1, NcbComponent::kPhyPart2}, 2},
    {"rom", {NcbComponent::kRom, NcbComponent::kRom}, 1},
};

ComponentCheck checkComponents(const CheckPlan& plan, ConstHalvernNcb ncb,
                               std::span<const uint8_t> contents) {
  ComponentCheck check;
  check.name = plan.name;
  check.recordedCrc = plan.parts[0] == NcbComponent::kMacPart1   ? ncb.macCrc()
                      : plan.parts[0] == NcbComponent::kPhyPart1 ? ncb.phyCrc()
                                                                 : ncb.romCrc();
  uint16_t crc = 0;
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    const NcbRegion region = ncb.component(plan.parts[i]);
    if (static_cast<uint64_t>(region.offset) + region.size > contents.size()) return check;
    crc = crc16(contents.data() + region.offset, region.size, crc);
  }
  check.inFile = true;
  check.computedCrc = crc;
  return check;
}

std::string problemOf(ConstHalvernNcb ncb, const NcbReport& report) {
  if (report.validation == kStatusSuccess) return {};
  if (report.erased) return "erased";
  if (ncb.freeOffset() == kNcbUnprogrammed24) return "free-area start unprogrammed";
  if (!report.computedCrc) return "size gives no CRC range";
  if (!report.crcOk) return "CRC mismatch";
  if (!report.structureOk) return "a descriptor lies outside its window";
  if (report.magic) return "magic word set";
  return "invalid";
}

NcbReport analyzeNcb(std::span<const uint8_t> contents, uint32_t slot, MemoryFlash& flash) {
  NcbReport report;
  report.address = slot == 0 ? kNcb0Address : kNcb1Address;
  const std::optional<ConstHalvernNcb> found = ConstHalvernNcb::inBuffer(contents, report.address);
  if (!found) return report;
  const ConstHalvernNcb ncb = *found;
  report.inFile = true;
  report.erased =
      std::all_of(ncb.bytes().begin(), ncb.bytes().end(), [](uint8_t b) { return b == 0xFF; });
  report.state = ncb.state();
  report.active = ncb.active();
  report.size = ncb.size();
  report.storedCrc = ncb.crc();
  report.computedCrc = computeNcbCrc(ncb);
  report.crcOk = checkNcbCrc(ncb);
  report.structureOk = checkNcbStructure(ncb);
  report.validation = validateNcb(ncb, true);
  report.magic = ncb.magicWord() == kNcbMagic;
  report.problem = problemOf(ncb, report);
  for (NcbArea area : kAllNcbAreas)
    report.areas[static_cast<std::size_t>(area)] = ncb.area(area);
  for (NcbComponent component : kAllNcbComponents)
    report.components[static_cast<std::size_t>(component)] = ncb.component(component);
  for (std::size_t i = 0; i < report.checks.size(); ++i)
    report.checks[i] = checkComponents(kCheckPlans[i], ncb, contents);
  report.freeArea = ncb.freeArea();
  report.imageTag = ncb.imageTag();
  report.imageVersion = ncb.imageVersion();
  report.type2Layout = isType2Layout(ncb, slot == 1);
  FirmwareVersion version;
  report.versionStatus = readFirmwareVersion(flash, ncb, version);
  if (report.versionStatus == kStatusSuccess) report.version = version;
  return report;
}

std::string ncbJson(const NcbReport& ncb) {
  if (!ncb.inFile) return format("{\"address\": %" PRIu32 ", \"in_file\": false}", ncb.address);
  std::string areas;
  for (std::size_t i = 0; i < ncb.areas.size(); ++i) {
    areas += format("%s{\"name\": \"%s\", \"offset\": %u, \"length\": %u}", i ? ", " : "",
                    ncbAreaName(static_cast<NcbArea>(i)), ncb.areas[i].offset, ncb.areas[i].length);
  }
  std::string components;
  for (std::size_t i = 0; i < ncb.components.size(); ++i) {
    components += format("%s{\"name\": \"%s\", \"offset\": %" PRIu32 ", \"size\": %" PRIu32 "}",
                         i ? ", " : "", ncbComponentName(static_cast<NcbComponent>(i)),
                         ncb.components[i].offset, ncb.components[i].size);
  }
  std::string checks;
  for (std::size_t i = 0; i < ncb.checks.size(); ++i) {
    const ComponentCheck& check = ncb.checks[i];
    checks += format("%s\"%s\": {\"recorded_crc\": %u, \"computed_crc\": %s, \"ok\": %s}",
                     i ? ", " : "", check.name, check.recordedCrc,
                     jsonNumber(check.computedCrc).c_str(), jsonBool(check.ok()));
  }
  return format(
      "{\"address\": %" PRIu32
      ", \"in_file\": true, \"erased\": %s, \"state\": %u, \"active\": %s, "
      "\"size\": %u, \"crc\": %u, \"computed_crc\": %s, \"crc_ok\": %s, \"structure_ok\": %s, "
      "\"valid\": %s, \"validation_status\": %" PRIu32
      ", \"problem\": %s, "
      "\"areas\": [%s], \"components\": [%s], \"component_crcs\": {%s}, "
      "\"free_offset\": %" PRIu32 ", \"free_size\": %" PRIu32
      ", \"image_tag\": %u, "
      "\"image_version_field\": %" PRIu32
      ", \"magic\": %s, \"layout\": %d, "
      "\"version\": %s, \"version_status\": %" PRIu32 "}",
      ncb.address, jsonBool(ncb.erased), static_cast<unsigned>(ncb.state), jsonBool(ncb.active),
      ncb.size, ncb.storedCrc, jsonNumber(ncb.computedCrc).c_str(), jsonBool(ncb.crcOk),
      jsonBool(ncb.structureOk), jsonBool(ncb.validation == kStatusSuccess),
      statusNumber(ncb.validation), ncb.problem.empty() ? "null" : jsonText(ncb.problem).c_str(),
      areas.c_str(), components.c_str(), checks.c_str(), ncb.freeArea.offset, ncb.freeArea.size,
      ncb.imageTag, ncb.imageVersion, jsonBool(ncb.magic), ncb.type2Layout ? 2 : 1,
      jsonVersion(ncb.version).c_str(), statusNumber(ncb.versionStatus));
}

std::string ncbText(const NcbReport& ncb) {
  std::string text =
      format("NCB%u at 0x%06" PRIX32 ": ", ncb.address == kNcb0Address ? 0 : 1, ncb.address);
  if (!ncb.inFile) return text + "not in the file\n";
  text += format("%s, %s\n", ncb.erased ? "erased" : ncbStateName(ncb.state),
                 ncb.problem.empty() ? "valid" : ("invalid: " + ncb.problem).c_str());
  text += format("  size 0x%04X, crc 0x%04X", ncb.size, ncb.storedCrc);
  text += ncb.computedCrc ? format(" (computed 0x%04X)", *ncb.computedCrc) : " (no CRC range)";
  text += format(", structure %s\n", ncb.structureOk ? "ok" : "BAD");
  text += "  areas:";
  for (std::size_t i = 0; i < ncb.areas.size(); ++i) {
    text += format(" %c 0x%04X+0x%X", static_cast<char>('A' + i), ncb.areas[i].offset,
                   ncb.areas[i].length);
  }
  text += "\n";
  for (std::size_t i = 0; i < ncb.components.size(); ++i) {
    text += format("  %-9s 0x%06" PRIX32 " size 0x%06" PRIX32 "\n",
                   ncbComponentName(static_cast<NcbComponent>(i)), ncb.components[i].offset,
                   ncb.components[i].size);
  }
  for (const ComponentCheck& check : ncb.checks) {
    text += format("  %s crc 0x%04X: ", check.name, check.recordedCrc) + crcCheckText(check) + "\n";
  }
  if (ncb.freeArea.offset == 0 && ncb.freeArea.size == 0) {
    text += "  free area: none\n";
  } else {
    text += format("  free area: 0x%06" PRIX32 " size 0x%06" PRIX32 "\n", ncb.freeArea.offset,
                   ncb.freeArea.size);
  }
  text += format("  imageTag 0x%04X, imageVersion 0x%06" PRIX32 "%s\n", ncb.imageTag,
                 ncb.imageVersion, ncb.magic ? ", magic word set" : "");
  text += format("  layout: type %d\n", ncb.type2Layout ? 2 : 1);
  text += "  firmware version: " + versionText(ncb.version, ncb.versionStatus) + "\n";
  return text;
}

}  // namespace

ImageReport analyzeImage(std::span<const uint8_t> contents, uint64_t fileSize) {
  ImageReport report;
  report.fileSize = fileSize;
  MemoryFlash flash(contents);
  for (uint32_t slot = 0; slot < 2; ++slot)
    report.ncbs[slot] = analyzeNcb(contents, slot, flash);

  std::vector<uint8_t> buffers(2 * kNcbBlockSize);
  const HalvernNcb buffer0(buffers.data());
  const HalvernNcb buffer1(buffers.data() + kNcbBlockSize);
  const std::optional<BlockRoles<HalvernNcb>> roles = readBlockRoles(flash, buffer0, buffer1);
  if (roles) {
    const uint32_t slot = roles->activeSlot.index();
    const NcbReport& ncb = report.ncbs[slot];
    report.activeNcb = slot;
    report.layout = ncb.type2Layout ? 2 : 1;
    report.versionStatus = ncb.versionStatus;
    report.version = ncb.version;
    bool ok = true;
    for (const ComponentCheck& check : ncb.checks)
      ok = ok && check.ok();
    report.componentsOk = ok;
  } else {
    report.versionStatus = kStatusNoValidActiveNcb;
  }

  FirmwareVersion version;
  report.previousStatus = readPreviousVersion(flash, version);
  if (report.previousStatus == kStatusSuccess) report.previousVersion = version;

  report.imageStatus = getImageVersion(contents, version);
  if (report.imageStatus == kStatusSuccess) report.imageVersion = version;
  uint32_t type = 0;
  if (getImageType(contents, type)) report.type = type;
  return report;
}

std::string crcCheckText(const ComponentCheck& check) {
  if (!check.inFile) return "outside the file";
  if (check.ok()) return "ok";
  return format("MISMATCH (bytes give 0x%04X)", *check.computedCrc);
}

const ComponentCheck& checkOf(const NcbReport& ncb, NcbComponent component) {
  for (std::size_t i = 0; i < std::size(kCheckPlans); ++i) {
    const CheckPlan& plan = kCheckPlans[i];
    if (std::find(plan.parts.begin(), plan.parts.begin() + plan.partCount, component) !=
        plan.parts.begin() + plan.partCount)
      return ncb.checks[i];
  }
  return ncb.checks.back();  // every component is in a plan
}

std::string formatReportText(const ImageReport& report) {
  std::string text = format("file: %" PRIu64 " bytes\n", report.fileSize);
  for (const NcbReport& ncb : report.ncbs)
    text += ncbText(ncb);
  if (report.activeNcb) {
    text += format("flash reader takes NCB%" PRIu32 ": layout type %" PRIu32
                   ", version %s, components %s\n",
                   *report.activeNcb, *report.layout,
                   versionText(report.version, report.versionStatus).c_str(),
                   *report.componentsOk ? "ok" : "DAMAGED");
  } else {
    text += "flash reader takes no block: no valid active NCB\n";
  }
  text += "previous version: " + versionText(report.previousVersion, report.previousStatus) + "\n";
  text += format("as an update image: status %" PRIu32, statusNumber(report.imageStatus));
  if (report.imageVersion) text += ", version " + report.imageVersion->toString();
  text += report.type ? format(", type %" PRIu32 "\n", *report.type) : ", type unknown\n";
  return text;
}

namespace {

// The bank the active block's first component lies in, if it lies in one.
std::optional<char> activeBank(const ImageReport& report) {
  if (!report.activeNcb) return std::nullopt;
  const uint32_t first = report.ncbs[*report.activeNcb].components[0].offset;
  if (kBankA.contains(first)) return 'A';
  if (kBankB.contains(first)) return 'B';
  return std::nullopt;
}

std::string previousText(const ImageReport& report) {
  return report.previousVersion ? report.previousVersion->toString() : "none";
}

}  // namespace

std::string formatReportSummary(const ImageReport& report) {
  if (!report.activeNcb) return "no valid active NCB, previous " + previousText(report);
  const std::optional<char> bank = activeBank(report);
  return format("NCB%" PRIu32 " active, layout type %" PRIu32 ", firmware %s%s, previous %s, "
                "components %s",
                *report.activeNcb, *report.layout,
                versionText(report.version, report.versionStatus).c_str(),
                bank ? format(" in bank %c", *bank).c_str() : "", previousText(report).c_str(),
                *report.componentsOk ? "ok" : "DAMAGED");
}

std::string formatReportSummaryJson(const ImageReport& report) {
  const std::optional<char> bank = activeBank(report);
  return format("{\"active_ncb\": %s, \"layout\": %s, \"bank\": %s, \"version\": %s, "
                "\"previous_version\": %s, \"components_ok\": %s}",
                jsonNumber(report.activeNcb).c_str(), jsonNumber(report.layout).c_str(),
                bank ? format("\"%c\"", *bank).c_str() : "null",
                jsonVersion(report.version).c_str(), jsonVersion(report.previousVersion).c_str(),
                report.componentsOk ? jsonBool(*report.componentsOk) : "null");
}

std::string formatReportJson(const ImageReport& report) {
  return format(
      "{\"file_size\": %" PRIu64
      ", \"active_ncb\": %s, \"layout\": %s, \"version\": %s, "
      "\"version_status\": %" PRIu32
      ", \"previous_version\": %s, "
      "\"previous_status\": %" PRIu32 ", \"components_ok\": %s, \"image_status\": %" PRIu32
      ", \"image_version\": %s, \"type\": %s, \"ncbs\": [%s, %s]}\n",
      report.fileSize, jsonNumber(report.activeNcb).c_str(), jsonNumber(report.layout).c_str(),
      jsonVersion(report.version).c_str(), statusNumber(report.versionStatus),
      jsonVersion(report.previousVersion).c_str(), statusNumber(report.previousStatus),
      report.componentsOk ? jsonBool(*report.componentsOk) : "null",
      statusNumber(report.imageStatus), jsonVersion(report.imageVersion).c_str(),
      jsonNumber(report.type).c_str(), ncbJson(report.ncbs[0]).c_str(),
      ncbJson(report.ncbs[1]).c_str());
}

}  // namespace hlv::image
