// What `hlvimage info` finds in an update image, a backup file or a flash dump. The file is
// judged by the engine's own routines, reading it as a flash through a MemoryFlash, so the
// verdicts are those the tool reaches on an adapter or for an update image.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engine/firmware_version.h"
#include "engine/flash_update_status.h"
#include "shared/halvern_ncb.h"
#include "tools/common/json_output.h"

namespace hlv::image {

// A component group and its recorded CRC against the bytes.
struct ComponentCheck {
  const char* name = "";  // "mac", "phy", "rom"
  bool inFile = false;    // every part lies inside the file
  uint16_t recordedCrc = 0;
  std::optional<uint16_t> computedCrc;  // when inFile
  bool ok() const { return computedCrc && *computedCrc == recordedCrc; }
};

struct NcbReport {
  uint32_t address = 0;
  bool inFile = false;  // the file holds the whole block
  bool erased = false;  // every byte of the block is 0xFF
  NcbState state = NcbState::kNotActive;
  bool active = false;
  uint16_t size = 0;
  uint16_t storedCrc = 0;
  std::optional<uint16_t> computedCrc;  // none when `size` gives no CRC range
  bool crcOk = false;
  bool structureOk = false;
  FlashUpdateStatus validation = kStatusSuccess;  // validateNcb, checked as if active
  std::string problem;                            // why validation fails; empty when it passes
  std::array<NcbAreaDescriptor, 6> areas{};
  std::array<NcbRegion, 5> components{};
  std::array<ComponentCheck, 3> checks{};
  NcbRegion freeArea;
  uint16_t imageTag = 0;
  uint32_t imageVersion = 0;
  bool magic = false;
  bool type2Layout = false;
  FlashUpdateStatus versionStatus = kStatusSuccess;  // of the firmware this block describes
  std::optional<FirmwareVersion> version;
};

struct ImageReport {
  uint64_t fileSize = 0;
  std::array<NcbReport, 2> ncbs;
  // What a flash reader takes: the active block (NCB0 first) when it passes validation.
  std::optional<uint32_t> activeNcb;
  std::optional<uint32_t> layout;  // 2 for the type-2 layout, else 1
  FlashUpdateStatus versionStatus = kStatusSuccess;
  std::optional<FirmwareVersion> version;
  FlashUpdateStatus previousStatus = kStatusSuccess;
  std::optional<FirmwareVersion> previousVersion;
  std::optional<bool> componentsOk;
  // The update-image readout.
  FlashUpdateStatus imageStatus = kStatusSuccess;
  std::optional<FirmwareVersion> imageVersion;
  std::optional<uint32_t> type;
};

// Bytes of a file worth reading: nothing a block records lies beyond 24-bit offset plus 24-bit
// size, so larger files are judged by their first kMaxExamined bytes (their size still counts).
inline constexpr uint64_t kMaxExamined = 0x2000000;

// `contents` holds the file (or its first kMaxExamined bytes); `fileSize` is its length.
ImageReport analyzeImage(std::span<const uint8_t> contents, uint64_t fileSize);

// "ok", "MISMATCH (bytes give 0xNNNN)" or "outside the file".
std::string crcCheckText(const ComponentCheck& check);

// The CRC check that covers a component (MAC parts 1 and 2 share one, as do the PHY parts).
const ComponentCheck& checkOf(const NcbReport& ncb, NcbComponent component);

std::string formatReportText(const ImageReport& report);

// The flash map in one line: the block a flash reader takes, its layout, the bank its firmware
// lies in, the versions and the components' state, e.g. "NCB1 active, layout type 2, firmware
// 1.6.2 in bank B, previous 1.5.86, components ok"; or "no valid active NCB, previous none".
std::string formatReportSummary(const ImageReport& report);
// The same as a JSON object: active_ncb, layout, bank ("A", "B" or null), version,
// previous_version, components_ok.
tool::Json reportSummaryJson(const ImageReport& report);
std::string formatReportSummaryJson(const ImageReport& report);
// One JSON object.
std::string formatReportJson(const ImageReport& report);

}  // namespace hlv::image
