// The NVM control block (NCB): the 0x4000-byte block at the start of the flash that says where
// every firmware component lives, with the component checksums, version data, small
// configuration areas stored inside the block itself, and a two-bit activity state.
//
// Flash map (the same offsets index an image file, which is a copy of a whole flash):
//   0x000000..0x003FFF  NCB0
//   0x004000..0x007FFF  NCB1
//   0x008000..0x103FFF  bank A (the components of NCB0 in the type-2 layout)
//   0x104000..0x1FFFFF  bank B (the components of NCB1 in the type-2 layout)
//
// The block is little-endian throughout and is always read and written byte by byte through
// the views below; no structure is laid over the bytes, which may come from a damaged flash.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <type_traits>

#include "shared/little_endian.h"

namespace hlv {

// Layout of the flash and of update images.
inline constexpr uint32_t kFlashLayoutSize = 0x200000;  // flash the layout assumes; image size
inline constexpr uint32_t kNcbBlockSize = 0x4000;
inline constexpr uint32_t kNcb0Address = 0x0;
inline constexpr uint32_t kNcb1Address = 0x4000;
inline constexpr uint32_t kBankAStart = 0x8000;
inline constexpr uint32_t kBankBStart = 0x104000;
inline constexpr uint32_t kBankLength = 0xFC000;
inline constexpr uint32_t kFirstComponentAddress = kBankAStart;

// Inside the block.
inline constexpr uint32_t kNcbCrcStart = 0x04;       // the CRC covers 0x04 .. size-1
inline constexpr uint32_t kNcbFirstAreaByte = 0x72;  // first byte an in-block area may use
inline constexpr uint32_t kNcbMagicOffset = 0x70;
inline constexpr uint32_t kNcbMagic = 0xAA55AA55;  // marks a block that must not be used
inline constexpr uint32_t kNcbUnprogrammed24 = 0xFFFFFF;
// In areaB's offset field: set when the block is NCB1, so that the field holds the area's
// absolute flash address; the low 14 bits are the offset inside the block.
inline constexpr uint16_t kNcbAreaBSlotBit = 0x4000;
inline constexpr uint16_t kNcbAreaOffsetMask = 0x3FFF;

// Byte offsets of the named fields.
namespace ncb_field {
inline constexpr uint32_t kCrc = 0x00;
inline constexpr uint32_t kImageTagLow = 0x02;
inline constexpr uint32_t kStateByte = 0x03;  // bits 7:6 state, bits 5:0 imageTag bits 13:8
inline constexpr uint32_t kImageVersion = 0x04;
inline constexpr uint32_t kSize = 0x08;
inline constexpr uint32_t kAreaA = 0x20;
inline constexpr uint32_t kAreaB = 0x24;
inline constexpr uint32_t kAreaC = 0x28;
inline constexpr uint32_t kMacPart1Offset = 0x2C;
inline constexpr uint32_t kMacPart1Size = 0x2F;
inline constexpr uint32_t kMacPart2Offset = 0x32;
inline constexpr uint32_t kMacPart2Size = 0x35;
inline constexpr uint32_t kMacCrc = 0x3A;
inline constexpr uint32_t kPhyPart1Offset = 0x40;
inline constexpr uint32_t kPhyPart1Size = 0x43;
inline constexpr uint32_t kPhyPart2Offset = 0x46;
inline constexpr uint32_t kPhyPart2Size = 0x49;
inline constexpr uint32_t kPhyCrc = 0x52;
inline constexpr uint32_t kRomOffset = 0x54;
inline constexpr uint32_t kRomSize = 0x57;
inline constexpr uint32_t kRomCrc = 0x5A;
inline constexpr uint32_t kFreeOffset = 0x5C;
inline constexpr uint32_t kFreeSize = 0x5F;
inline constexpr uint32_t kAreaD = 0x64;
inline constexpr uint32_t kAreaE = 0x68;
inline constexpr uint32_t kAreaF = 0x6C;
}  // namespace ncb_field

// The two state bits. Programming only clears bits, so the state moves downward in value:
// erased (not active) -> active -> deactivated.
enum class NcbState : uint8_t {
  kDeactivated = 0b00,
  kActiveAlternate = 0b01,  // never written by this program, but counts as active
  kActive = 0b10,           // what this program writes to activate a block
  kNotActive = 0b11,        // erased flash
};

// The six in-block data areas, in the order of their descriptors' use.
enum class NcbArea : uint8_t { kA, kB, kC, kD, kE, kF };
inline constexpr std::array<NcbArea, 6> kAllNcbAreas = {NcbArea::kA, NcbArea::kB, NcbArea::kC,
                                                        NcbArea::kD, NcbArea::kE, NcbArea::kF};
inline constexpr uint32_t ncbAreaField(NcbArea area) {
  constexpr uint32_t kFields[] = {ncb_field::kAreaA, ncb_field::kAreaB, ncb_field::kAreaC,
                                  ncb_field::kAreaD, ncb_field::kAreaE, ncb_field::kAreaF};
  return kFields[static_cast<uint8_t>(area)];
}
const char* ncbAreaName(NcbArea area);

// An in-block area descriptor as stored (areaB's offset keeps its slot bit).
struct NcbAreaDescriptor {
  uint16_t offset = 0;
  uint16_t length = 0;
  bool operator==(const NcbAreaDescriptor&) const = default;
};

// The five firmware components. A component with offset 0 and size 0 is absent.
enum class NcbComponent : uint8_t { kMacPart1, kMacPart2, kPhyPart1, kPhyPart2, kRom };
inline constexpr std::array<NcbComponent, 5> kAllNcbComponents = {
    NcbComponent::kMacPart1, NcbComponent::kMacPart2, NcbComponent::kPhyPart1,
    NcbComponent::kPhyPart2, NcbComponent::kRom};
inline constexpr uint32_t ncbComponentOffsetField(NcbComponent component) {
  constexpr uint32_t kFields[] = {ncb_field::kMacPart1Offset, ncb_field::kMacPart2Offset,
                                  ncb_field::kPhyPart1Offset, ncb_field::kPhyPart2Offset,
                                  ncb_field::kRomOffset};
  return kFields[static_cast<uint8_t>(component)];
}
// The size field follows the offset field.
inline constexpr uint32_t ncbComponentSizeField(NcbComponent component) {
  return ncbComponentOffsetField(component) + 3;
}
const char* ncbComponentName(NcbComponent component);

// A flash region recorded in a block: a component or the free area.
struct NcbRegion {
  uint32_t offset = 0;
  uint32_t size = 0;
  uint32_t end() const { return offset + size; }  // 24-bit fields: cannot overflow
  bool operator==(const NcbRegion&) const = default;
};

namespace detail {
// Stores a 24-bit value; a larger value is a programming error.
void storeLe24Checked(uint8_t* field, uint32_t value);
}  // namespace detail

// A view of one control block held elsewhere (a buffer read from the flash, or an image
// file). BasicHalvernNcb<uint8_t> (HalvernNcb) can change the block; BasicHalvernNcb<const
// uint8_t> (ConstHalvernNcb) only reads it. Copying a view copies the reference, not the bytes.
template <class Byte>
class BasicHalvernNcb {
  static_assert(std::is_same_v<std::remove_const_t<Byte>, uint8_t>);

 public:
  static constexpr bool kWritable = !std::is_const_v<Byte>;

  // `block` must have kNcbBlockSize bytes.
  explicit BasicHalvernNcb(Byte* block) : block_(block) {}
  explicit BasicHalvernNcb(std::span<Byte, kNcbBlockSize> block) : block_(block.data()) {}

  // The block at `offset` of the buffer, when the buffer holds all of it.
  static std::optional<BasicHalvernNcb> inBuffer(std::span<Byte> buffer, std::size_t offset) {
    if (offset > buffer.size() || buffer.size() - offset < kNcbBlockSize) return std::nullopt;
    return BasicHalvernNcb(buffer.data() + offset);
  }

  operator BasicHalvernNcb<const uint8_t>() const requires kWritable {
    return BasicHalvernNcb<const uint8_t>(block_);
  }

  // Two views are equal when they show the same block.
  bool operator==(const BasicHalvernNcb& other) const { return block_ == other.block_; }

  Byte* data() const { return block_; }
  std::span<Byte, kNcbBlockSize> bytes() const {
    return std::span<Byte, kNcbBlockSize>(block_, kNcbBlockSize);
  }

  // Stores a 24-bit value into a 3-byte field; a value above 24 bits is a programming error.
  static void setByteArrayValue_(uint8_t* field, uint32_t value) {
    detail::storeLe24Checked(field, value);
  }

  // --- Header ---
  uint16_t crc() const { return loadLe16(block_ + ncb_field::kCrc); }
  uint16_t imageTag() const {
    return static_cast<uint16_t>(block_[ncb_field::kImageTagLow] |
                                 ((block_[ncb_field::kStateByte] & 0x3F) << 8));
  }
  NcbState state() const { return static_cast<NcbState>(block_[ncb_field::kStateByte] >> 6); }
  bool active() const {
    return state() == NcbState::kActive || state() == NcbState::kActiveAlternate;
  }
  uint32_t imageVersion() const { return loadLe24(block_ + ncb_field::kImageVersion); }
  uint16_t size() const { return loadLe16(block_ + ncb_field::kSize); }
  uint32_t magicWord() const { return loadLe32(block_ + kNcbMagicOffset); }

  // --- In-block areas ---
  NcbAreaDescriptor area(NcbArea which) const {
    const Byte* p = block_ + ncbAreaField(which);
    return {loadLe16(p), loadLe16(p + 2)};
  }
  NcbAreaDescriptor areaA() const { return area(NcbArea::kA); }
  NcbAreaDescriptor areaB() const { return area(NcbArea::kB); }
  NcbAreaDescriptor areaC() const { return area(NcbArea::kC); }
  NcbAreaDescriptor areaD() const { return area(NcbArea::kD); }
  NcbAreaDescriptor areaE() const { return area(NcbArea::kE); }
  NcbAreaDescriptor areaF() const { return area(NcbArea::kF); }
  // The offset of an area inside the block (areaB without its slot bit).
  uint16_t areaOffsetInBlock(NcbArea which) const {
    const uint16_t raw = area(which).offset;
    return which == NcbArea::kB ? static_cast<uint16_t>(raw & kNcbAreaOffsetMask) : raw;
  }

  // --- Components and free area ---
  NcbRegion component(NcbComponent which) const {
    return {loadLe24(block_ + ncbComponentOffsetField(which)),
            loadLe24(block_ + ncbComponentSizeField(which))};
  }
  uint32_t macPart1Offset() const { return loadLe24(block_ + ncb_field::kMacPart1Offset); }
  uint32_t macPart1Size() const { return loadLe24(block_ + ncb_field::kMacPart1Size); }
  uint32_t macPart2Offset() const { return loadLe24(block_ + ncb_field::kMacPart2Offset); }
  uint32_t macPart2Size() const { return loadLe24(block_ + ncb_field::kMacPart2Size); }
  uint16_t macCrc() const { return loadLe16(block_ + ncb_field::kMacCrc); }
  uint32_t phyPart1Offset() const { return loadLe24(block_ + ncb_field::kPhyPart1Offset); }
  uint32_t phyPart1Size() const { return loadLe24(block_ + ncb_field::kPhyPart1Size); }
  uint32_t phyPart2Offset() const { return loadLe24(block_ + ncb_field::kPhyPart2Offset); }
  uint32_t phyPart2Size() const { return loadLe24(block_ + ncb_field::kPhyPart2Size); }
  uint16_t phyCrc() const { return loadLe16(block_ + ncb_field::kPhyCrc); }
  uint32_t romOffset() const { return loadLe24(block_ + ncb_field::kRomOffset); }
  uint32_t romSize() const { return loadLe24(block_ + ncb_field::kRomSize); }
  uint16_t romCrc() const { return loadLe16(block_ + ncb_field::kRomCrc); }
  uint32_t freeOffset() const { return loadLe24(block_ + ncb_field::kFreeOffset); }
  uint32_t freeSize() const { return loadLe24(block_ + ncb_field::kFreeSize); }
  NcbRegion freeArea() const { return {freeOffset(), freeSize()}; }

  // --- Setters (writable views only) ---
  void setCrc(uint16_t value) const requires kWritable {
    storeLe16(block_ + ncb_field::kCrc, value);
  }
  // Keeps the state bits.
  void setImageTag(uint16_t tag) const requires kWritable {
    block_[ncb_field::kImageTagLow] = static_cast<uint8_t>(tag);
    block_[ncb_field::kStateByte] =
        static_cast<uint8_t>((block_[ncb_field::kStateByte] & 0xC0) | ((tag >> 8) & 0x3F));
  }
  // Keeps the imageTag bits.
  void setState(NcbState value) const requires kWritable {
    block_[ncb_field::kStateByte] = static_cast<uint8_t>((block_[ncb_field::kStateByte] & 0x3F) |
                                                         (static_cast<uint8_t>(value) << 6));
  }
  void setImageVersion(uint32_t value) const requires kWritable {
    setByteArrayValue_(block_ + ncb_field::kImageVersion, value);
  }
  void setSize(uint16_t value) const requires kWritable {
    storeLe16(block_ + ncb_field::kSize, value);
  }
  void setArea(NcbArea which, NcbAreaDescriptor descriptor) const requires kWritable {
    storeLe16(block_ + ncbAreaField(which), descriptor.offset);
    storeLe16(block_ + ncbAreaField(which) + 2, descriptor.length);
  }
  void setComponent(NcbComponent which, NcbRegion region) const requires kWritable {
    setByteArrayValue_(block_ + ncbComponentOffsetField(which), region.offset);
    setByteArrayValue_(block_ + ncbComponentSizeField(which), region.size);
  }
  void setMacCrc(uint16_t value) const requires kWritable {
    storeLe16(block_ + ncb_field::kMacCrc, value);
  }
  void setPhyCrc(uint16_t value) const requires kWritable {
    storeLe16(block_ + ncb_field::kPhyCrc, value);
  }
  void setRomCrc(uint16_t value) const requires kWritable {
    storeLe16(block_ + ncb_field::kRomCrc, value);
  }
  void setFreeArea(NcbRegion region) const requires kWritable {
    setByteArrayValue_(block_ + ncb_field::kFreeOffset, region.offset);
    setByteArrayValue_(block_ + ncb_field::kFreeSize, region.size);
  }
  void setMagicWord(uint32_t value) const requires kWritable {
    storeLe32(block_ + kNcbMagicOffset, value);
  }

 private:
  Byte* block_;
};

using HalvernNcb = BasicHalvernNcb<uint8_t>;
using ConstHalvernNcb = BasicHalvernNcb<const uint8_t>;

// A component checksum field of the block and the parts it covers: the CRC runs over `first`,
// then over `second` (the option ROM has one part; `second` then names it again).
struct NcbCrcCoverage {
  NcbComponent first;
  NcbComponent second;
  uint16_t recorded;
  bool twoParts() const { return second != first; }
};
// The three checksummed components of a block: the MAC firmware (macCrc), the PHY firmware
// (phyCrc) and the option ROM (romCrc).
std::array<NcbCrcCoverage, 3> ncbCrcCoverage(ConstHalvernNcb ncb);

// The CRC over bytes 0x04 .. size-1, or none when `size` is below 4 or beyond the block.
std::optional<uint16_t> computeNcbCrc(ConstHalvernNcb ncb);
// Stores the computed CRC; false (nothing stored) when `size` gives no CRC range.
bool updateNcbCrc(HalvernNcb ncb);

}  // namespace hlv
