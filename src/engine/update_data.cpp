#include "engine/update_data.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/flash_layout.h"
#include "engine/ncb.h"
#include "engine/ncb_layout.h"
#include "engine/update_data_trace.h"
#include "shared/crc16.h"

namespace hlv {
namespace tp = trace_points::update_data;

namespace {

constexpr uint32_t kMaxAreaLength = 0xFFFF;  // an area's length field is 16 bits

// Record D with its flag byte (index 0, second value) at offset 12.
constexpr std::array<uint8_t, kAreaDRecordSize> kAreaDRecord = {
    0x02, 0x01, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
constexpr uint32_t kAreaDFlagByte = 12;
// Record E with its flag byte (the low byte of the second value) at offset 6.
constexpr std::array<uint8_t, kAreaERecordSize> kAreaERecord = {0x03, 0x01, 0x84, 0x00, 0x00, 0xE4,
                                                                0x02, 0x00, 0x03, 0x00, 0x00, 0x00};
constexpr uint32_t kAreaEFlagByte = 6;

// Length of an owned area built from a blob: the blob with its terminator replaced by the
// record, or the record alone.
uint64_t ownedLength(uint64_t blobLength, uint32_t recordSize, uint32_t terminatorSize) {
  return blobLength == 0 ? recordSize : blobLength - terminatorSize + recordSize;
}

// Builds one owned area; false when memory is short.
bool buildOwnedArea(std::span<const uint8_t> blob, std::span<const uint8_t> record,
                    uint32_t terminatorSize, uint32_t flagByte, uint8_t flagValue,
                    ByteBuffer& storage) {
  const auto length = static_cast<uint32_t>(
      ownedLength(blob.size(), static_cast<uint32_t>(record.size()), terminatorSize));
  storage = ByteBuffer::allocate(length);
  if (!storage.ok()) return false;
  if (!blob.empty()) std::memcpy(storage.data(), blob.data(), blob.size());
  const std::size_t at = blob.empty() ? 0 : blob.size() - terminatorSize;
  std::memcpy(storage.data() + at, record.data(), record.size());
  storage.data()[at + flagByte] = flagValue;
  return true;
}

bool insideImage(std::span<const uint8_t> image, NcbRegion region) {
  return static_cast<uint64_t>(region.offset) + region.size <= image.size();
}

std::span<const uint8_t> bytesOf(std::span<const uint8_t> image, NcbRegion region) {
  return image.subspan(region.offset, region.size);
}

}  // namespace

FlashUpdateStatus checkConfigBlobs(const ConfigBlobs& blobs, bool areasOwned) {
  const uint64_t lengthD = blobs.blobD.size();
  const uint64_t lengthE = blobs.blobE.size();
  trace::emit(tp::kCheckBlobs, lengthD, lengthE, areasOwned);
  if (!areasOwned) {
    if (lengthD > kMaxAreaLength || lengthE > kMaxAreaLength) {
      trace::emit(tp::kBlobTooLong, lengthD, lengthE);
      return kStatusNcbBuildFailed;
    }
    return kStatusSuccess;
  }
  // The record takes the place of the blob's terminator, which a shorter blob does not have.
  if ((lengthD != 0 && lengthD < kAreaDTerminatorSize) ||
      (lengthE != 0 && lengthE < kAreaETerminatorSize)) {
    trace::emit(tp::kBlobWithoutTerminator, lengthD, lengthE);
    return kStatusNcbNotUsable;
  }
  if (ownedLength(lengthD, kAreaDRecordSize, kAreaDTerminatorSize) > kMaxAreaLength ||
      ownedLength(lengthE, kAreaERecordSize, kAreaETerminatorSize) > kMaxAreaLength) {
    trace::emit(tp::kBlobTooLong, lengthD, lengthE);
    return kStatusNcbBuildFailed;
  }
  return kStatusSuccess;
}

bool buildConfigAreas(const ConfigBlobs& blobs, UpdateData& data) {
  data.areaDData = nullptr;
  data.areaEData = nullptr;
  data.areaDLength = 0;
  data.areaELength = 0;
  data.areaDStorage = ByteBuffer();
  data.areaEStorage = ByteBuffer();
  if (checkConfigBlobs(blobs, data.areasOwned) != kStatusSuccess) return false;

  if (!data.areasOwned) {
    data.areaDData = blobs.blobD.data();
    data.areaDLength = static_cast<uint16_t>(blobs.blobD.size());
    data.areaEData = blobs.blobE.data();
    data.areaELength = static_cast<uint16_t>(blobs.blobE.size());
    trace::emit(tp::kAreasAsGiven, data.areaDLength, data.areaELength);
    return true;
  }
  const bool builtD =
      buildOwnedArea(blobs.blobD, kAreaDRecord, kAreaDTerminatorSize, kAreaDFlagByte,
                     data.areaDFlag ? 0x01 : 0x00, data.areaDStorage);
  const bool builtE =
      builtD && buildOwnedArea(blobs.blobE, kAreaERecord, kAreaETerminatorSize, kAreaEFlagByte,
                               data.areaEFlag ? 0x03 : 0x02, data.areaEStorage);
  if (!builtD || !builtE) {
    trace::emit(tp::kAreasNoMemory, static_cast<uint32_t>(blobs.blobD.size()),
                static_cast<uint32_t>(blobs.blobE.size()));
    data.areaDStorage = ByteBuffer();
    data.areaEStorage = ByteBuffer();
    return false;
  }
  data.areaDData = data.areaDStorage.data();
  data.areaDLength = static_cast<uint16_t>(data.areaDStorage.size());
  data.areaEData = data.areaEStorage.data();
  data.areaELength = static_cast<uint16_t>(data.areaEStorage.size());
  trace::emit(tp::kAreasBuilt, data.areaDLength, data.areaELength, data.areaDFlag, data.areaEFlag);
  return true;
}

bool parseUpdateData(std::span<const uint8_t> image, const ConfigBlobs& blobs, UpdateData& data) {
  if (image.size() < kFlashLayoutSize) {
    trace::emit(tp::kImageTooSmall, static_cast<uint64_t>(image.size()));
    return false;
  }
  image = image.first(kFlashLayoutSize);
  const std::optional<ConstHalvernNcb> ncb = findActiveImageNcb(image);
  if (!ncb) {
    trace::emit(tp::kImageNoActiveNcb);
    return false;
  }
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb->component(component);
    if (!insideImage(image, region)) {
      trace::emit(tp::kComponentOutsideImage, static_cast<uint8_t>(component), region.offset,
                  region.size);
      return false;
    }
  }
  auto place = [&](NcbComponent component, const uint8_t*& pointer, uint32_t& size) {
    const NcbRegion region = ncb->component(component);
    pointer = image.data() + region.offset;
    size = region.size;
  };
  place(NcbComponent::kMacPart1, data.macPart1, data.macPart1Size);
  place(NcbComponent::kMacPart2, data.macPart2, data.macPart2Size);
  place(NcbComponent::kPhyPart1, data.phyPart1, data.phyPart1Size);
  place(NcbComponent::kPhyPart2, data.phyPart2, data.phyPart2Size);
  place(NcbComponent::kRom, data.rom, data.romSize);
  data.macCrc = ncb->macCrc();
  data.phyCrc = ncb->phyCrc();
  data.romCrc = ncb->romCrc();
  data.imageTag = ncb->imageTag();
  data.imageVersion = ncb->imageVersion();
  trace::emit(tp::kComponents, data.macPart1Size, data.macPart2Size, data.phyPart1Size,
              data.phyPart2Size, data.romSize);
  trace::emit(tp::kIdentity, data.imageTag, data.imageVersion, data.macCrc, data.phyCrc,
              data.romCrc);

  if (!buildConfigAreas(blobs, data)) {
    trace::emit(tp::kAreasFailed);
    return false;
  }
  return true;
}

FlashUpdateStatus checkImageComponents(std::span<const uint8_t> image, uint32_t pageSize) {
  if (image.size() < kFlashLayoutSize) {
    trace::emit(tp::kImageTooSmall, static_cast<uint64_t>(image.size()));
    return kStatusImageInvalid;
  }
  image = image.first(kFlashLayoutSize);
  const std::optional<ConstHalvernNcb> ncb = findActiveImageNcb(image);
  if (!ncb) {
    trace::emit(tp::kImageNoActiveNcb);
    return kStatusImageInvalid;
  }
  if (!checkNcbStructure(*ncb)) {
    trace::emit(tp::kImageNcbStructure);
    return kStatusNcbInvalid;
  }
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb->component(component);
    if (!insideImage(image, region)) {
      trace::emit(tp::kComponentOutsideImage, static_cast<uint8_t>(component), region.offset,
                  region.size);
      return kStatusNcbInvalid;
    }
  }
  for (const NcbCrcCoverage& check : ncbCrcCoverage(*ncb)) {
    uint16_t computed = crc16(bytesOf(image, ncb->component(check.first)));
    if (check.twoParts()) computed = crc16(bytesOf(image, ncb->component(check.second)), computed);
    if (computed != check.recorded) {
      trace::emit(tp::kImageCrcMismatch, static_cast<uint8_t>(check.first), computed,
                  check.recorded);
      return kStatusComponentCrcMismatch;
    }
  }
  const uint32_t required = requiredBankSize(*ncb, pageSize);
  if (required > kBankLength) {
    trace::emit(tp::kImageTooLargeForBank, required, kBankLength);
    return kStatusFreeAreaTooSmall;
  }
  trace::emit(tp::kImageComponentsGood, required);
  return kStatusSuccess;
}

}  // namespace hlv
