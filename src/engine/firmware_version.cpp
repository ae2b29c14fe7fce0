#include "engine/firmware_version.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <optional>

#include "engine/block_roles.h"
#include "engine/byte_buffer.h"
#include "engine/firmware_version_trace.h"
#include "engine/flash_access.h"
#include "engine/flash_layout.h"
#include "engine/ncb.h"
#include "engine/record_stream.h"
#include "shared/little_endian.h"

namespace hlv {
namespace tp = trace_points::firmware_version;
namespace fh = firmware_header;

namespace {

// Reads bounded words of a buffer; offsets are 64-bit so that offsets taken from the data
// cannot wrap.
class BufferReader {
 public:
  explicit BufferReader(std::span<const uint8_t> buffer) : buffer_(buffer) {}
  uint64_t size() const { return buffer_.size(); }
  bool holds(uint64_t offset, uint64_t length) const {
    return offset <= buffer_.size() && length <= buffer_.size() - offset;
  }
  std::optional<uint32_t> u32(uint64_t offset) const {
    if (!holds(offset, 4)) return std::nullopt;
    return loadLe32(buffer_.data() + offset);
  }
  // Callers check holds() first.
  uint32_t u32Unchecked(uint64_t offset) const { return loadLe32(buffer_.data() + offset); }
  uint16_t u16Unchecked(uint64_t offset) const { return loadLe16(buffer_.data() + offset); }
  std::span<const uint8_t> bytes(uint64_t offset, uint64_t length) const {
    return buffer_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
  }

 private:
  std::span<const uint8_t> buffer_;
};

bool validMajor(uint32_t major) {
  return major >= 1 && major <= fh::kMaxMajor;
}

bool majorAt(const BufferReader& reader, uint64_t offset) {
  const std::optional<uint32_t> major = reader.u32(offset);
  return major && validMajor(*major);
}

// An image's size for trace records.
uint32_t clampedSize(std::span<const uint8_t> image) {
  return static_cast<uint32_t>(std::min<std::size_t>(image.size(), UINT32_MAX));
}

FlashUpdateStatus traceResult(FlashUpdateStatus status, const FirmwareVersion& version) {
  trace::emit(tp::kVersionResult, status, version.major, version.minor, version.build);
  return status;
}

}  // namespace

FlashUpdateStatus parseFirmwareVersion(std::span<const uint8_t> buffer, FirmwareVersion& version) {
  const BufferReader reader(buffer);
  uint64_t h = 0;
  if (majorAt(reader, fh::kMajor)) {
    h = 0;
  } else if (majorAt(reader, fh::kSecondPosition + fh::kMajor)) {
    h = fh::kSecondPosition;
  } else {
    if (reader.size() <= fh::kThirdPositionMinSize) {
      trace::emit(tp::kNoHeader, static_cast<uint32_t>(reader.size()));
      return kStatusVersionUnreadable;
    }
    if (!isEmpty(buffer.data(), fh::kZeroPrefix)) {
      trace::emit(tp::kPrefixNotZero, fh::kThirdPosition);
      return kStatusVersionUnreadable;
    }
    h = fh::kThirdPosition;
  }
  if (!reader.holds(h, fh::kSize)) {
    trace::emit(tp::kNoHeader, static_cast<uint32_t>(reader.size()));
    return kStatusVersionUnreadable;
  }
  trace::emit(tp::kHeaderAt, static_cast<uint32_t>(h));
  trace::emit(tp::kHeaderWords, reader.u32Unchecked(h), reader.u32Unchecked(h + 4),
              reader.u32Unchecked(h + 8), reader.u32Unchecked(h + 0xC),
              reader.u32Unchecked(h + 0x10), reader.u32Unchecked(h + 0x14));
  trace::emit(tp::kHeaderWords2, reader.u32Unchecked(h + 0x18), reader.u32Unchecked(h + 0x1C),
              reader.u32Unchecked(h + 0x20), reader.u32Unchecked(h + 0x24),
              reader.u32Unchecked(h + 0x28), static_cast<uint32_t>(reader.u16Unchecked(h + 0x2C)),
              static_cast<uint32_t>(reader.u16Unchecked(h + 0x2E)));

  const uint64_t settingsStart = h + reader.u32Unchecked(h + fh::kSettingsOffset);
  if (reader.holds(settingsStart, fh::kSettingsBlockSize)) {
    SettingsBlock block{};
    for (uint32_t i = 0; i < block.size(); ++i)
      block[i] = reader.u32Unchecked(settingsStart + 4 * i);

    const uint32_t patchLength = reader.u16Unchecked(h + fh::kPatchLength);
    if (patchLength != 0) {
      const uint64_t patchStart = h + reader.u32Unchecked(h + fh::kPatchOffset);
      if (!reader.holds(patchStart, patchLength)) {
        trace::emit(tp::kPatchOutside, patchStart, patchLength,
                    static_cast<uint32_t>(reader.size()));
        return kStatusVersionUnreadable;
      }
      uint32_t consumed = 0;
      const int result = applyPatchRecords(reader.bytes(patchStart, patchLength), applyMaskedWrite,
                                           block, consumed);
      trace::emit(tp::kPatchResult, static_cast<int32_t>(result), consumed);
    }
    const uint32_t word = block[fh::kVersionWord];
    if (word != 0 && ((word >> 16) & 0xFF) <= fh::kMaxMajor) {
      version = {(word >> 16) & 0xFF, (word >> 8) & 0xFF, word & 0xFF};
      trace::emit(tp::kVersionFromSettings, version.major, version.minor, version.build);
      return kStatusSuccess;
    }
  } else {
    trace::emit(tp::kSettingsOutside, settingsStart, static_cast<uint32_t>(reader.size()));
  }

  const FirmwareVersion fromHeader{reader.u32Unchecked(h + fh::kMajor),
                                   reader.u32Unchecked(h + fh::kMinor),
                                   reader.u32Unchecked(h + fh::kBuild)};
  if (!validMajor(fromHeader.major)) {
    trace::emit(tp::kVersionOutOfRange, fromHeader.major, fromHeader.minor, fromHeader.build);
    return kStatusVersionUnreadable;
  }
  version = fromHeader;
  trace::emit(tp::kVersionFromHeader, version.major, version.minor, version.build);
  return kStatusSuccess;
}

FlashUpdateStatus readFirmwareVersion(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                      FirmwareVersion& version) {
  const uint32_t size = ncb.macPart2Size();
  trace::emit(tp::kReadVersion, ncb.macPart2Offset(), size);
  // A size from a damaged block (up to 16 MiB) is refused before a buffer of that size is taken.
  if (static_cast<uint64_t>(ncb.macPart2Offset()) + size > flashCtrl.flashSize) {
    trace::emit(tp::kPart2ReadFailed, size, ncb.macPart2Offset(), kStatusFlashReadFailed);
    return kStatusFlashReadFailed;
  }
  const ByteBuffer part2 = ByteBuffer::allocate(size);
  if (!part2.ok()) {
    trace::emit(tp::kPart2ReadNoMemory, size);
    return kStatusOutOfMemory;
  }
  const FlashUpdateStatus status = readFlash(flashCtrl, ncb.macPart2Offset(), part2.data(), size);
  if (status != kStatusSuccess) {
    trace::emit(tp::kPart2ReadFailed, size, ncb.macPart2Offset(), status);
    return status;
  }
  if (size < kMinMacPart2Size) {
    trace::emit(tp::kPart2TooShort, size);
    return kStatusVersionUnreadable;
  }
  return traceResult(parseFirmwareVersion(part2.span(), version), version);
}

FlashUpdateStatus readCurrentVersion(VoFlashControlInterface& flashCtrl, FirmwareVersion& version) {
  trace::emit(tp::kReadCurrent);
  if (!flashCtrl.init()) {
    trace::emit(tp::kCurrentInitFailed);
    return kStatusFlashInitFailed;
  }
  const ByteBuffer ncbs = ByteBuffer::allocate(2 * kNcbBlockSize);
  if (!ncbs.ok()) {
    trace::emit(tp::kCurrentNoMemory);
    return kStatusOutOfMemory;
  }
  const std::optional<HalvernNcb> active =
      readActiveNcb(flashCtrl, HalvernNcb(ncbs.data()), HalvernNcb(ncbs.data() + kNcbBlockSize));
  if (!active) {
    trace::emit(tp::kCurrentNoActive);
    return kStatusNoValidActiveNcb;
  }
  return readFirmwareVersion(flashCtrl, *active, version);
}

FlashUpdateStatus readPreviousVersion(VoFlashControlInterface& flashCtrl,
                                      FirmwareVersion& version) {
  trace::emit(tp::kReadPrevious);
  const ByteBuffer ncbs = ByteBuffer::allocate(2 * kNcbBlockSize);
  if (!ncbs.ok() || !flashCtrl.init()) {
    trace::emit(tp::kPreviousNotReady);
    return kStatusFlashReadFailed;
  }
  const HalvernNcb ncb0(ncbs.data());
  const HalvernNcb ncb1(ncbs.data() + kNcbBlockSize);
  FlashUpdateStatus status = readNcbs(flashCtrl, ncb0, ncb1);
  if (status != kStatusSuccess) {
    trace::emit(tp::kPreviousReadFailed, status);
    return status;
  }

  // The block a rollback would activate: the one a reader does not take.
  const std::optional<BlockRoles<HalvernNcb>> roles = chooseBlocks(ncb0, ncb1);
  if (!roles) {
    trace::emit(tp::kPreviousNoneActive);
    return kStatusImageInvalid;
  }
  const uint32_t address = roles->otherSlot.address();
  trace::emit(tp::kPreviousChosen, address);
  const HalvernNcb previous = roles->other;
  status = validateNcb(previous, true);
  if (status != kStatusSuccess) {
    trace::emit(tp::kPreviousInvalid, address, status);
    return status;
  }
  return readFirmwareVersion(flashCtrl, previous, version);
}

FlashUpdateStatus getImageVersion(const UpdateImage& image, FirmwareVersion& version) {
  const uint32_t imageSize = clampedSize(image.bytes());
  trace::emit(tp::kGetImageVersion, imageSize);
  const NcbRegion part2 = image.region(NcbComponent::kMacPart2);
  const std::optional<std::span<const uint8_t>> bytes = image.component(NcbComponent::kMacPart2);
  if (!bytes) {
    trace::emit(tp::kImagePart2Outside, part2.offset, part2.size, imageSize);
    return kStatusVersionUnreadable;
  }
  if (part2.size < kMinMacPart2Size) {
    trace::emit(tp::kImagePart2TooShort, part2.size);
    return kStatusVersionUnreadable;
  }
  return traceResult(parseFirmwareVersion(*bytes, version), version);
}

FlashUpdateStatus getImageVersion(std::span<const uint8_t> image, FirmwareVersion& version) {
  const std::optional<UpdateImage> parsed = UpdateImage::parse(image);
  if (!parsed) return kStatusImageInvalid;
  return getImageVersion(*parsed, version);
}

uint32_t getImageType(const UpdateImage& image) {
  trace::emit(tp::kGetImageType, clampedSize(image.bytes()));
  // The whole offset field, so that NCB1's slot bit makes it an absolute image address; the
  // largest field value stays far inside an image of the layout's size.
  const uint32_t at = image.ncb().areaB().offset + kAreaBDeviceIdOffset;
  const uint16_t deviceId = loadLe16(image.bytes().data() + at);
  const uint32_t type = isType2DeviceId(deviceId) ? 2 : 1;
  trace::emit(tp::kImageType, deviceId, type);
  return type;
}

bool getImageType(std::span<const uint8_t> image, uint32_t& type) {
  const std::optional<UpdateImage> parsed = UpdateImage::parse(image);
  if (!parsed) return false;
  type = getImageType(*parsed);
  return true;
}

bool isType2DeviceId(uint16_t deviceId) {
  return deviceId == 0x21C3 || deviceId == 0x22C3 || deviceId == 0xA1C3 || deviceId == 0xA2C3;
}

}  // namespace hlv
