// What an image (or flash dump) to be built looks like: a few parameters per control block,
// everything else by default. Tests and the description files of `hlvimage build` fill these.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/firmware_version.h"
#include "shared/halvern_ncb.h"

namespace hlv::image {

// Bytes written over what the builder produced.
struct Poke {
  uint32_t offset = 0;
  std::vector<uint8_t> bytes;
};

struct PatchEntrySpec {
  uint32_t index = 0;
  uint32_t mask = 0;
  uint32_t value = 0;
};

// The firmware header and what it points to, inside MAC part 2.
struct FirmwareSpec {
  FirmwareVersion version{1, 0, 0};  // the header's version words
  uint32_t headerOffset = 0;         // where the header starts: 0, 8 or 0x10000
  uint32_t settingsOffset = 0x100;   // from the header; a settings block of 512 bytes
  std::vector<std::pair<uint32_t, uint32_t>> settingsWords;  // (word index, value)
  uint32_t patchOffset = 0x300;                              // from the header
  std::vector<PatchEntrySpec> patches;             // one 32-bit stream of type 2, one group
  std::optional<std::vector<uint8_t>> patchBytes;  // a raw stream instead of `patches`
  std::optional<uint16_t> patchLength;             // the length word, if not the stream's
  bool keyBlock = true;  // a non-zero signing-key block at 0xFE80 (when the part holds it)
};

// How a CRC field is filled.
struct CrcSpec {
  enum class Kind : uint8_t { kGood, kBad, kValue } kind = Kind::kGood;
  uint16_t value = 0;
  uint16_t apply(uint16_t computed) const {
    return kind == Kind::kGood
               ? computed
               : (kind == Kind::kBad ? static_cast<uint16_t>(computed ^ 0x5A5A) : value);
  }
};

// Content of an in-block area.
struct AreaSpec {
  enum class Kind : uint8_t { kNone, kFilled, kBytes, kRecord } kind = Kind::kNone;
  uint16_t length = 0;                  // kFilled
  std::vector<uint8_t> bytes;           // kBytes
  std::optional<uint16_t> offsetField;  // stored instead of the packed offset
  std::optional<uint16_t> lengthField;  // stored instead of the content's length
};

enum class Bank : uint8_t { kOwn, kOther, kA, kB };

struct NcbSpec {
  bool erased = false;  // the block is all 0xFF (nothing programmed)
  NcbState state = NcbState::kActive;
  // Where the components go: NCB0's own bank is A, NCB1's is B.
  Bank bank = Bank::kOwn;
  // Component sizes and, where given, their flash addresses; the others are packed from the
  // bank's start on 256-byte pages. Order: MAC part 1, MAC part 2, PHY part 1, PHY part 2, ROM.
  std::array<uint32_t, 5> sizes{0x8000, 0x10000, 0x4000, 0x2000, 0x4000};
  std::array<std::optional<uint32_t>, 5> offsets{};
  uint32_t seed = 1;  // varies the component contents
  FirmwareSpec firmware;
  CrcSpec ncbCrc, macCrc, phyCrc, romCrc;
  std::optional<uint16_t> sizeField;  // stored instead of the end of the last area
  // A, B, C, D, E, F: by default A, B and C hold filler (B the device ID), D and E one
  // configuration record each, F nothing.
  std::array<AreaSpec, 6> areas = defaultAreas();
  bool areaDFlag = false;      // the flag of the default record in areaD
  bool areaEFlag = false;      // the flag of the default record in areaE
  uint16_t deviceId = 0x20C3;  // PCI device ID in areaB (at +10)
  uint16_t imageTag = 0x0123;
  std::optional<uint32_t> imageVersion;  // default: from the firmware version
  std::optional<NcbRegion> freeArea;     // default: none
  // The free area is the whole bank the components do not use.
  bool freeAreaOtherBank = false;
  bool magic = false;
  std::vector<Poke> sets;  // written into the block before its CRC is computed

  static std::array<AreaSpec, 6> defaultAreas();
};

struct ImageSpec {
  uint32_t imageSize = kFlashLayoutSize;
  uint8_t fill = 0xFF;
  std::array<NcbSpec, 2> ncbs;
  std::vector<Poke> pokes;  // written over the finished image

  // NCB0 active, NCB1 erased, components in bank A: a type-2 update image.
  ImageSpec();
};

// A flash after one update: NCB0 deactivated over bank A with `previous`, NCB1 active over
// bank B with `current`.
ImageSpec updatedFlashSpec(FirmwareVersion previous, FirmwareVersion current);
// A flash in the type-1 layout: NCB0 active over components in bank B, bank A its free area.
ImageSpec typeOneFlashSpec();
// A flash in the middle of an update or rollback: both blocks active, NCB0 over bank A with
// `ncb0Version`, NCB1 over bank B with `ncb1Version`.
ImageSpec bothActiveFlashSpec(FirmwareVersion ncb0Version, FirmwareVersion ncb1Version);

}  // namespace hlv::image
