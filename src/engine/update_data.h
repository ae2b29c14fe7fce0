// What one update writes: the components of the update image, the identity fields of its
// control block, and the configuration areas the new block will carry.
#pragma once

#include <cstdint>
#include <span>

#include "engine/byte_buffer.h"
#include "engine/flash_update_status.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// The per-board configuration an update brings along: blob D becomes the new block's areaD,
// blob E its areaE (with a configuration record appended when the engine owns the areas).
struct ConfigBlobs {
  std::span<const uint8_t> blobD;
  std::span<const uint8_t> blobE;
};

// Filled by parseUpdateData and buildConfigAreas, read by type2PerformUpdate. The component
// pointers point into the caller's image, which must outlive the record; the record owns only
// the area contents it built itself (areasOwned), released with it.
struct UpdateData {
  const uint8_t* macPart1 = nullptr;
  const uint8_t* macPart2 = nullptr;
  const uint8_t* phyPart1 = nullptr;
  const uint8_t* phyPart2 = nullptr;
  const uint8_t* rom = nullptr;
  uint32_t macPart1Size = 0;
  uint32_t macPart2Size = 0;
  uint32_t phyPart1Size = 0;
  uint32_t phyPart2Size = 0;
  uint32_t romSize = 0;
  uint32_t imageTag = 0;      // 14 bits
  uint32_t imageVersion = 0;  // 24 bits
  uint16_t macCrc = 0;
  uint16_t phyCrc = 0;
  uint16_t romCrc = 0;
  const uint8_t* areaDData = nullptr;
  const uint8_t* areaEData = nullptr;
  uint16_t areaDLength = 0;
  uint16_t areaELength = 0;
  bool areaDFlag = false;
  bool areaEFlag = false;
  // The engine appends its own configuration record to each area (set for the boards whose
  // running firmware needs the legacy flags carried over).
  bool areasOwned = false;

  // Storage of the areas built when areasOwned is set.
  ByteBuffer areaDStorage;
  ByteBuffer areaEStorage;

  std::span<const uint8_t> areaD() const { return {areaDData, areaDLength}; }
  std::span<const uint8_t> areaE() const { return {areaEData, areaELength}; }
};

// The record appended to areaD: one section of 32-bit words (type 2) with one group
// (argument 0x10) holding the entry (index 0, the flag, 1) and the terminating zero word.
inline constexpr uint32_t kAreaDRecordSize = 24;
// The record appended to areaE: one section of 16-bit words (type 3) with one group
// (argument 1) holding the entry (0xE400, 3 when the flag is set else 2, 3) and the zero word.
inline constexpr uint32_t kAreaERecordSize = 12;
// Each record replaces the terminator of the blob it is appended to.
inline constexpr uint32_t kAreaDTerminatorSize = 4;
inline constexpr uint32_t kAreaETerminatorSize = 2;

// Whether the blobs can become areas: kStatusNcbNotUsable for a blob too short to hold the
// terminator its record replaces (blob D of 1 to 3 bytes, blob E of 1 byte, when the areas are
// owned); kStatusNcbBuildFailed for an area that would not fit its 16-bit length field.
FlashUpdateStatus checkConfigBlobs(const ConfigBlobs& blobs, bool areasOwned);

// Sets the area fields of `data` from the blobs: the blobs themselves, or (areasOwned) copies
// with the configuration records appended. False when checkConfigBlobs refuses the blobs or
// memory is short (the area fields are then empty).
bool buildConfigAreas(const ConfigBlobs& blobs, UpdateData& data);

// Fills the component, identity and area fields of `data` from the image's active block. False
// for an image smaller than the flash layout, without an active block whose CRC holds, with a
// component outside the image, or when buildConfigAreas fails. areasOwned and the flags must be
// set before.
bool parseUpdateData(std::span<const uint8_t> image, const ConfigBlobs& blobs, UpdateData& data);

// The image's active block describes components that can be written: its structure holds and
// every component lies inside the image (kStatusNcbInvalid), each component matches its CRC
// (kStatusComponentCrcMismatch), and together they fit a bank with every part starting on a
// program page of `pageSize` (kStatusFreeAreaTooSmall). kStatusImageInvalid without an active
// block.
FlashUpdateStatus checkImageComponents(std::span<const uint8_t> image, uint32_t pageSize);

}  // namespace hlv
