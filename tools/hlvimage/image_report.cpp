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

tool::Json ncbJson(const NcbReport& ncb) {
  tool::Json out;
  out["address"] = ncb.address;
  out["in_file"] = ncb.inFile;
  if (!ncb.inFile) return out;
  tool::Json areas = tool::Json::array();
  for (std::size_t i = 0; i < ncb.areas.size(); ++i) {
    areas.push_back(tool::Json{{"name", ncbAreaName(static_cast<NcbArea>(i))},
                               {"offset", ncb.areas[i].offset},
                               {"length", ncb.areas[i].length}});
  }
  tool::Json components = tool::Json::array();
  for (std::size_t i = 0; i < ncb.components.size(); ++i) {
    components.push_back(tool::Json{{"name", ncbComponentName(static_cast<NcbComponent>(i))},
                                    {"offset", ncb.components[i].offset},
                                    {"size", ncb.components[i].size}});
  }
  tool::Json checks = tool::Json::object();
  for (const ComponentCheck& check : ncb.checks) {
    checks[check.name] = tool::Json{{"recorded_crc", check.recordedCrc},
                                    {"computed_crc", jsonNumber(check.computedCrc)},
                                    {"ok", check.ok()}};
  }
  out["erased"] = ncb.erased;
  out["state"] = static_cast<unsigned>(ncb.state);
  out["active"] = ncb.active;
  out["size"] = ncb.size;
  out["crc"] = ncb.storedCrc;
  out["computed_crc"] = jsonNumber(ncb.computedCrc);
  out["crc_ok"] = ncb.crcOk;
  out["structure_ok"] = ncb.structureOk;
  out["valid"] = ncb.validation == kStatusSuccess;
  out["validation_status"] = statusNumber(ncb.validation);
  out["problem"] = ncb.problem.empty() ? tool::Json(nullptr) : tool::Json(ncb.problem);
  out["areas"] = std::move(areas);
  out["components"] = std::move(components);
  out["component_crcs"] = std::move(checks);
  out["free_offset"] = ncb.freeArea.offset;
  out["free_size"] = ncb.freeArea.size;
  out["image_tag"] = ncb.imageTag;
  out["image_version_field"] = ncb.imageVersion;
  out["magic"] = ncb.magic;
  out["layout"] = ncb.type2Layout ? 2 : 1;
  out["version"] = jsonVersion(ncb.version);
  out["version_status"] = statusNumber(ncb.versionStatus);
  return out;
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
  return format("NCB%" PRIu32 " active, layout type %" PRIu32
                ", firmware %s%s, previous %s, "
                "components %s",
                *report.activeNcb, *report.layout,
                versionText(report.version, report.versionStatus).c_str(),
                bank ? format(" in bank %c", *bank).c_str() : "", previousText(report).c_str(),
                *report.componentsOk ? "ok" : "DAMAGED");
}

tool::Json reportSummaryJson(const ImageReport& report) {
  const std::optional<char> bank = activeBank(report);
  tool::Json out;
  out["active_ncb"] = jsonNumber(report.activeNcb);
  out["layout"] = jsonNumber(report.layout);
  out["bank"] = bank ? tool::Json(std::string(1, *bank)) : tool::Json(nullptr);
  out["version"] = jsonVersion(report.version);
  out["previous_version"] = jsonVersion(report.previousVersion);
  out["components_ok"] = jsonNumber(report.componentsOk);
  return out;
}

std::string formatReportSummaryJson(const ImageReport& report) {
  return tool::dumpJson(reportSummaryJson(report));
}

std::string formatReportJson(const ImageReport& report) {
  tool::Json out;
  out["file_size"] = report.fileSize;
  out["active_ncb"] = jsonNumber(report.activeNcb);
  out["layout"] = jsonNumber(report.layout);
  out["version"] = jsonVersion(report.version);
  out["version_status"] = statusNumber(report.versionStatus);
  out["previous_version"] = jsonVersion(report.previousVersion);
  out["previous_status"] = statusNumber(report.previousStatus);
  out["components_ok"] = jsonNumber(report.componentsOk);
  out["image_status"] = statusNumber(report.imageStatus);
  out["image_version"] = jsonVersion(report.imageVersion);
  out["type"] = jsonNumber(report.type);
  out["ncbs"] = tool::Json::array({ncbJson(report.ncbs[0]), ncbJson(report.ncbs[1])});
  return tool::dumpJson(out) + "\n";
}

}  // namespace hlv::image
