// What one update writes: the components of the update image, the identity fields of its
// control block, and the configuration areas the new block will carry.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/byte_buffer.h"
#include "engine/flash_update_status.h"
#include "engine/update_image.h"

namespace hlv {

// The per-board configuration an update brings along: blob D becomes the new block's areaD,
// blob E its areaE (with a configuration record appended when the engine owns the areas).
struct ConfigBlobs {
  std::span<const uint8_t> blobD;
  std::span<const uint8_t> blobE;
};

// Filled by parseUpdateData and buildConfigAreas, read by buildNewNcb and type2PerformUpdate.
// The image's components (and its block's CRCs, tag and version) are read where they lie in
// the caller's image, which must outlive the record; the record owns only the area contents it
// built itself (areasOwned), released with it.
struct UpdateData {
  std::optional<UpdateImage> image;  // set by parseUpdateData, every component inside it
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

// Takes the image into `data` and builds its areas. False for an image with a component past
// its end, or when buildConfigAreas fails. areasOwned and the flags must be set before.
bool parseUpdateData(const UpdateImage& image, const ConfigBlobs& blobs, UpdateData& data);

// The image's block describes components that can be written: its structure holds and every
// component lies inside the image (kStatusNcbInvalid), each component matches its CRC
// (kStatusComponentCrcMismatch), and together they fit a bank with every part starting on a
// program page of `pageSize` (kStatusFreeAreaTooSmall).
FlashUpdateStatus checkImageComponents(const UpdateImage& image, uint32_t pageSize);

}  // namespace hlv
