#include "tools/hlvimage/image_builder.h"

#include <algorithm>

#include "engine/flash_layout.h"
#include "shared/crc16.h"
#include "shared/little_endian.h"

namespace hlv::image {

namespace {

constexpr uint32_t kPlacementAlignment = 256;
constexpr uint32_t kHeaderTag = 0x48564C46;  // header word 0; never a valid major number

// Copies what fits of `bytes` into `target` at `offset`.
void putBytes(std::vector<uint8_t>& target, uint64_t offset, const std::vector<uint8_t>& bytes) {
  if (offset >= target.size()) return;
  const std::size_t count = std::min<std::size_t>(bytes.size(), target.size() - offset);
  std::copy_n(bytes.begin(), count, target.begin() + static_cast<std::ptrdiff_t>(offset));
}

void putLe16(std::vector<uint8_t>& target, uint64_t offset, uint16_t value) {
  std::vector<uint8_t> bytes(2);
  storeLe16(bytes.data(), value);
  putBytes(target, offset, bytes);
}

uint32_t bankStart(unsigned slot, Bank bank) {
  if (bank == Bank::kA) return kBankAStart;
  if (bank == Bank::kB) return kBankBStart;
  if (bank == Bank::kOther) return slot == 0 ? kBankBStart : kBankAStart;
  return slot == 0 ? kBankAStart : kBankBStart;
}

uint32_t encodedImageVersion(FirmwareVersion version) {
  return ((version.major & 0xFF) << 16) | ((version.minor & 0xFF) << 8) | (version.build & 0xFF);
}

std::vector<uint8_t> areaContent(const AreaSpec& area, NcbArea which, const NcbSpec& spec,
                                 uint32_t seed) {
  switch (area.kind) {
    case AreaSpec::Kind::kNone:
      return {};
    case AreaSpec::Kind::kBytes:
      return area.bytes;
    case AreaSpec::Kind::kRecord:
      if (which == NcbArea::kD) return areaDRecord(spec.areaDFlag);
      if (which == NcbArea::kE) return areaERecord(spec.areaEFlag);
      return {};
    case AreaSpec::Kind::kFilled: {
      std::vector<uint8_t> bytes = fillerBytes(area.length, seed);
      if (which == NcbArea::kB) putLe16(bytes, kAreaBDeviceIdOffset, spec.deviceId);
      return bytes;
    }
  }
  return {};
}

}  // namespace

std::vector<uint8_t> fillerBytes(uint32_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  for (uint8_t& b : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b = static_cast<uint8_t>(state >> 24);
  }
  return bytes;
}

uint32_t settingsVersionWord(FirmwareVersion version) {
  return encodedImageVersion(version);
}

// The records the update appends to areas D and E, written out byte by byte as the format
// gives them (the builder does not take them from the engine it is used to test).
// clang-format off
std::vector<uint8_t> areaDRecord(bool flag) {
  return {0x02, 0x01, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00,
          0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(flag ? 0x01 : 0x00), 0x00, 0x00, 0x00,
          0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

std::vector<uint8_t> areaERecord(bool flag) {
  return {0x03, 0x01, 0x84, 0x00, 0x00, 0xE4, static_cast<uint8_t>(flag ? 0x03 : 0x02), 0x00,
          0x03, 0x00, 0x00, 0x00};
}
// clang-format on

std::vector<uint8_t> buildPatchStream(const std::vector<PatchEntrySpec>& entries) {
  std::vector<uint8_t> stream;
  auto word = [&](uint32_t value) {
    const std::size_t at = stream.size();
    stream.resize(at + 4);
    storeLe32(stream.data() + at, value);
  };
  word(0x00000002);  // section of type 2, argument 0, no optional words
  // Group argument 1 (bits 6:2), entry count in bits 15:7.
  word((1u << 2) | ((static_cast<uint32_t>(entries.size()) & 0x1FF) << 7));
  for (const PatchEntrySpec& entry : entries) {
    word(entry.index);
    word(entry.mask);
    word(entry.value);
  }
  word(0);
  return stream;
}

std::vector<uint8_t> buildMacPart2(const FirmwareSpec& firmware, uint32_t size, uint32_t seed) {
  std::vector<uint8_t> part = fillerBytes(size, seed);
  const uint64_t h = firmware.headerOffset;
  if (h >= 0x10000) {
    // A header this far in is only looked for behind zero bytes.
    std::fill(part.begin(), part.begin() + std::min<std::size_t>(part.size(), 0xFB90), 0);
  }
  if (firmware.keyBlock) {
    putBytes(part, kKeyBlockOffset, fillerBytes(kKeyBlockSize, seed ^ 0x4B4559));
  } else {
    putBytes(part, kKeyBlockOffset, std::vector<uint8_t>(kKeyBlockSize, 0));
  }

  const std::vector<uint8_t> stream =
      firmware.patchBytes ? *firmware.patchBytes : buildPatchStream(firmware.patches);
  const bool hasStream = firmware.patchBytes || !firmware.patches.empty();
  const uint16_t streamLength = firmware.patchLength
                                    ? *firmware.patchLength
                                    : static_cast<uint16_t>(hasStream ? stream.size() : 0);

  std::vector<uint8_t> header(0x30, 0);
  storeLe32(header.data() + 0x00, kHeaderTag);
  storeLe32(header.data() + 0x04, size);
  storeLe32(header.data() + firmware_header::kMajor, firmware.version.major);
  storeLe32(header.data() + firmware_header::kMinor, firmware.version.minor);
  storeLe32(header.data() + firmware_header::kBuild, firmware.version.build);
  storeLe32(header.data() + firmware_header::kSettingsOffset, firmware.settingsOffset);
  storeLe32(header.data() + firmware_header::kPatchOffset, firmware.patchOffset);
  storeLe16(header.data() + firmware_header::kPatchLength, streamLength);
  putBytes(part, h, header);

  std::vector<uint8_t> settings(firmware_header::kSettingsBlockSize, 0);
  for (const auto& [index, value] : firmware.settingsWords) {
    if (index < settings.size() / 4) storeLe32(settings.data() + 4 * index, value);
  }
  putBytes(part, h + firmware.settingsOffset, settings);
  if (hasStream) putBytes(part, h + firmware.patchOffset, stream);
  return part;
}

std::array<uint32_t, 5> componentAddresses(unsigned slot, const NcbSpec& spec) {
  std::array<uint32_t, 5> addresses{};
  uint64_t cursor = bankStart(slot, spec.bank);
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    if (spec.offsets[i]) {
      addresses[i] = *spec.offsets[i];
      continue;
    }
    if (spec.sizes[i] == 0) continue;
    addresses[i] = static_cast<uint32_t>(std::min<uint64_t>(cursor, 0xFFFFFF));
    cursor = alignUp(static_cast<uint32_t>(std::min<uint64_t>(cursor + spec.sizes[i], 0xFFFFFF)),
                     kPlacementAlignment);
  }
  return addresses;
}

void placeNcb(std::vector<uint8_t>& image, unsigned slot, const NcbSpec& spec) {
  const uint32_t address = slot == 0 ? kNcb0Address : kNcb1Address;
  std::vector<uint8_t> block(kNcbBlockSize, spec.erased ? 0xFF : 0x00);
  if (spec.erased) {
    putBytes(image, address, block);
    return;
  }
  const HalvernNcb ncb(block.data());
  const uint32_t seed = spec.seed * 16;

  // Components, with their CRCs over the bytes as built (a truncated image keeps the CRCs of
  // the whole one).
  const std::array<uint32_t, 5> addresses = componentAddresses(slot, spec);
  std::array<std::vector<uint8_t>, 5> contents;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    const uint32_t size = std::min<uint32_t>(spec.sizes[i], 0xFFFFFF);
    contents[i] = kAllNcbComponents[i] == NcbComponent::kMacPart2
                      ? buildMacPart2(spec.firmware, size, seed + 1)
                      : fillerBytes(size, seed + static_cast<uint32_t>(i));
    putBytes(image, addresses[i], contents[i]);
    ncb.setComponent(kAllNcbComponents[i], {addresses[i] & 0xFFFFFF, size});
  }
  ncb.setMacCrc(spec.macCrc.apply(crc16(contents[1], crc16(contents[0]))));
  ncb.setPhyCrc(spec.phyCrc.apply(crc16(contents[3], crc16(contents[2]))));
  ncb.setRomCrc(spec.romCrc.apply(crc16(contents[4])));

  // In-block areas, packed as a new block packs them: A, B, C, F, E, D.
  uint32_t cursor = kNcbFirstNewArea;
  uint32_t end = kNcbFirstAreaByte;
  constexpr NcbArea kPackingOrder[] = {NcbArea::kA, NcbArea::kB, NcbArea::kC,
                                       NcbArea::kF, NcbArea::kE, NcbArea::kD};
  for (NcbArea which : kPackingOrder) {
    const AreaSpec& area = spec.areas[static_cast<std::size_t>(which)];
    const std::vector<uint8_t> content = areaContent(area, which, spec, seed + 8);
    NcbAreaDescriptor descriptor{};
    if (!content.empty()) {
      const uint32_t length = std::min<uint32_t>(static_cast<uint32_t>(content.size()),
                                                 kNcbBlockSize - std::min(cursor, kNcbBlockSize));
      std::copy_n(content.begin(), length, block.begin() + std::min(cursor, kNcbBlockSize));
      descriptor = {static_cast<uint16_t>(cursor), static_cast<uint16_t>(content.size())};
      if (which == NcbArea::kB && slot == 1) descriptor.offset |= kNcbAreaBSlotBit;
      end = std::max(end, cursor + length);
      cursor = alignUp(cursor + length, kNcbAreaAlignment);
    }
    if (area.offsetField) descriptor.offset = *area.offsetField;
    if (area.lengthField) descriptor.length = *area.lengthField;
    ncb.setArea(which, descriptor);
  }

  ncb.setState(spec.state);
  ncb.setImageTag(spec.imageTag & 0x3FFF);
  ncb.setImageVersion(spec.imageVersion.value_or(encodedImageVersion(spec.firmware.version)) &
                      0xFFFFFF);
  if (spec.freeArea) {
    ncb.setFreeArea({spec.freeArea->offset & 0xFFFFFF, spec.freeArea->size & 0xFFFFFF});
  } else if (spec.freeAreaOtherBank) {
    const bool componentsInA = bankStart(slot, spec.bank) == kBankAStart;
    ncb.setFreeArea({componentsInA ? kBankBStart : kBankAStart, kBankLength});
  }
  if (spec.magic) ncb.setMagicWord(kNcbMagic);
  ncb.setSize(spec.sizeField.value_or(static_cast<uint16_t>(std::min(end, kNcbBlockSize))));
  for (const Poke& poke : spec.sets)
    putBytes(block, poke.offset, poke.bytes);

  // The CRC over whatever range the size field gives, cut at the block's end.
  const uint32_t crcEnd = std::min<uint32_t>(ncb.size(), kNcbBlockSize);
  const uint16_t computed =
      crcEnd > kNcbCrcStart ? crc16(block.data() + kNcbCrcStart, crcEnd - kNcbCrcStart) : 0;
  ncb.setCrc(spec.ncbCrc.apply(computed));
  putBytes(image, address, block);
}

std::vector<uint8_t> buildImage(const ImageSpec& spec) {
  std::vector<uint8_t> image;
  buildImage(spec, image);
  return image;
}

void buildImage(const ImageSpec& spec, std::vector<uint8_t>& image) {
  image.assign(std::max(spec.imageSize, kFlashLayoutSize), spec.fill);
  placeNcb(image, 0, spec.ncbs[0]);
  placeNcb(image, 1, spec.ncbs[1]);
  for (const Poke& poke : spec.pokes)
    putBytes(image, poke.offset, poke.bytes);
  image.resize(spec.imageSize);
}

}  // namespace hlv::image
