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

// False (trace record) when the image places a component past its end.
bool holdsAllComponents(const UpdateImage& image) {
  const std::optional<NcbComponent> outside = image.componentOutside();
  if (!outside) return true;
  const NcbRegion region = image.region(*outside);
  trace::emit(tp::kComponentOutsideImage, static_cast<uint8_t>(*outside), region.offset,
              region.size);
  return false;
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

bool parseUpdateData(const UpdateImage& image, const ConfigBlobs& blobs, UpdateData& data) {
  data.image.reset();
  if (!holdsAllComponents(image)) return false;
  data.image = image;
  const ConstHalvernNcb ncb = image.ncb();
  trace::emit(tp::kComponents, ncb.macPart1Size(), ncb.macPart2Size(), ncb.phyPart1Size(),
              ncb.phyPart2Size(), ncb.romSize());
  trace::emit(tp::kIdentity, ncb.imageTag(), ncb.imageVersion(), ncb.macCrc(), ncb.phyCrc(),
              ncb.romCrc());

  if (!buildConfigAreas(blobs, data)) {
    trace::emit(tp::kAreasFailed);
    return false;
  }
  return true;
}

FlashUpdateStatus checkImageComponents(const UpdateImage& image, uint32_t pageSize) {
  const ConstHalvernNcb ncb = image.ncb();
  if (!checkNcbStructure(ncb)) {
    trace::emit(tp::kImageNcbStructure);
    return kStatusNcbInvalid;
  }
  if (!holdsAllComponents(image)) return kStatusNcbInvalid;
  for (const NcbCrcCoverage& check : ncbCrcCoverage(ncb)) {
    uint16_t computed = crc16(*image.component(check.first));
    if (check.twoParts()) computed = crc16(*image.component(check.second), computed);
    if (computed != check.recorded) {
      trace::emit(tp::kImageCrcMismatch, static_cast<uint8_t>(check.first), computed,
                  check.recorded);
      return kStatusComponentCrcMismatch;
    }
  }
  const uint32_t required = requiredBankSize(ncb, pageSize);
  if (required > kBankLength) {
    trace::emit(tp::kImageTooLargeForBank, required, kBankLength);
    return kStatusFreeAreaTooSmall;
  }
  trace::emit(tp::kImageComponentsGood, required);
  return kStatusSuccess;
}

}  // namespace hlv
