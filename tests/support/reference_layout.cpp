#include "tests/support/reference_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "shared/crc16.h"

namespace hlv::test {
namespace {

constexpr uint32_t kBlock = 0x4000;
constexpr uint32_t kBankA = 0x8000;
constexpr uint32_t kBankB = 0x104000;
constexpr uint32_t kBankSize = 0xFC000;

uint32_t up(uint32_t value, uint32_t unit) {
  return (value + unit - 1) / unit * unit;
}
uint32_t down(uint32_t value, uint32_t unit) {
  return value / unit * unit;
}

// One block inside the flash copy, read and written by field offset.
struct Block {
  uint8_t* p;
  uint32_t u16(uint32_t at) const { return p[at] | p[at + 1] << 8; }
  uint32_t u24(uint32_t at) const { return p[at] | p[at + 1] << 8 | p[at + 2] << 16; }
  void set16(uint32_t at, uint32_t v) {
    p[at] = static_cast<uint8_t>(v);
    p[at + 1] = static_cast<uint8_t>(v >> 8);
  }
  void set24(uint32_t at, uint32_t v) {
    set16(at, v);
    p[at + 2] = static_cast<uint8_t>(v >> 16);
  }
  uint32_t state() const { return p[3] >> 6; }
  bool active() const { return state() == 2 || state() == 1; }
  void setState(uint32_t s) { p[3] = static_cast<uint8_t>((p[3] & 0x3F) | s << 6); }
  uint32_t freeOffset() const { return u24(0x5C); }
  uint32_t freeSize() const { return u24(0x5F); }
  void crc() { set16(0, crc16(p + 4, u16(8) - 4)); }
};

// Offset fields of MAC 1, MAC 2, PHY 1, PHY 2 and the ROM; each size field follows its offset.
constexpr uint32_t kComponentFields[] = {0x2C, 0x32, 0x40, 0x46, 0x54};

bool inBank(Block b, uint32_t bankStart) {
  for (uint32_t field : kComponentFields) {
    const uint32_t start = b.u24(field);
    const uint32_t size = b.u24(field + 3);
    if (size != 0 && (start < bankStart || start + size > bankStart + kBankSize)) return false;
  }
  return true;
}

// A block copied into the other slot: areaB's slot bit follows the new place, CRC recomputed.
void copyBlock(Block from, Block to, bool toSlot1) {
  std::memcpy(to.p, from.p, kBlock);
  to.set16(0x24, (to.u16(0x24) & 0x3FFF) | (toSlot1 ? 0x4000 : 0));
  to.crc();
}

// Programs bytes into the flash copy (the engine programs only erased flash).
void program(std::vector<uint8_t>& flash, uint32_t at, const uint8_t* bytes, uint32_t length) {
  std::memcpy(flash.data() + at, bytes, length);
}

void transform(std::vector<uint8_t>& flash, const ReferenceGeometry& g) {
  Block ncb0{flash.data()};
  Block ncb1{flash.data() + kBlock};
  const Block active = ncb0.active() ? ncb0 : ncb1;
  const bool freeInA = active.freeOffset() < kBankB;
  Block src{nullptr};
  Block dst{nullptr};
  if (ncb0.active() && ncb1.active()) {
    src = freeInA ? ncb1 : ncb0;
    dst = freeInA ? ncb0 : ncb1;
  } else if (ncb0.active()) {
    copyBlock(ncb0, ncb1, true);
    if (freeInA) {  // the duplicate is the source
      src = ncb1;
      dst = ncb0;
    } else {
      ncb1.setState(0);
      src = ncb0;
      dst = ncb1;
    }
  } else {
    copyBlock(ncb1, ncb0, false);
    if (freeInA) {
      ncb0.setState(0);
      src = ncb1;
      dst = ncb0;
    } else {
      src = ncb0;
      dst = ncb1;
    }
  }
  // The free area's whole sectors are erased; the components follow each other on pages.
  const uint32_t start = up(src.freeOffset(), g.sectorSize);
  const uint32_t end = down(src.freeOffset() + src.freeSize(), g.sectorSize);
  std::fill(flash.begin() + start, flash.begin() + end, 0xFF);
  uint32_t cursor = start;
  std::vector<uint8_t> saved(flash.begin(), flash.end());  // the components' old places
  for (uint32_t field : kComponentFields) {
    const uint32_t from = src.u24(field);
    const uint32_t size = src.u24(field + 3);
    program(flash, cursor, saved.data() + from, size);
    dst.set24(field, cursor);
    dst.set24(field + 3, size);
    cursor = up(cursor + size, g.pageSize);
  }
  for (uint32_t crcField : {0x3Au, 0x52u, 0x5Au})
    dst.set16(crcField, src.u16(crcField));
  std::memcpy(dst.p + 4, src.p + 4, 3);  // imageVersion
  dst.p[2] = src.p[2];                   // imageTag
  dst.p[3] = static_cast<uint8_t>((dst.p[3] & 0xC0) | (src.p[3] & 0x3F));
  dst.set24(0x5C, 0);
  dst.set24(0x5F, 0);
  dst.setState(2);
  dst.crc();
  src.setState(0);
  src.set24(0x5C, 0);
  src.set24(0x5F, 0);
  src.set16(0, 0);
}

std::string hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

uint32_t le32(std::span<const uint8_t> bytes, uint64_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

// The firmware header at the start of MAC part 2: major, minor and build words at 8, 0xC and
// 0x10, and at 0x24 the offset of a 512-byte settings block whose word 13, when not zero and
// with a major of at most 4, holds the version instead.
bool firmwareVersion(std::span<const uint8_t> macPart2, FirmwareVersion& version) {
  constexpr uint32_t kHeaderSize = 0x30;
  constexpr uint32_t kSettingsSize = 0x200;
  if (macPart2.size() < kHeaderSize || le32(macPart2, 8) == 0xFFFFFFFF) return false;
  const uint64_t settings = le32(macPart2, 0x24);
  if (settings + kSettingsSize <= macPart2.size()) {
    const uint32_t word = le32(macPart2, settings + 4 * 13);
    if (word != 0 && (word >> 16 & 0xFF) <= 4) {
      version = {word >> 16 & 0xFF, word >> 8 & 0xFF, word & 0xFF};
      return true;
    }
  }
  version = {le32(macPart2, 8), le32(macPart2, 0xC), le32(macPart2, 0x10)};
  return true;
}

}  // namespace

FlashReading readAsReader(std::span<const uint8_t> flash) {
  FlashReading reading;
  if (flash.size() < kBankB + kBankSize) {
    reading.problem = "flash smaller than the layout";
    return reading;
  }
  std::vector<uint8_t> copy(flash.begin(), flash.begin() + 2 * kBlock);
  const Block ncb0{copy.data()};
  const Block ncb1{copy.data() + kBlock};
  if (!ncb0.active() && !ncb1.active()) {
    reading.problem = "no active block";
    return reading;
  }
  return readBlockAsReader(flash, ncb0.active() ? 0 : kBlock);
}

FlashReading readBlockAsReader(std::span<const uint8_t> flash, uint32_t blockAddress) {
  FlashReading reading;
  if (flash.size() < kBankB + kBankSize || (blockAddress != 0 && blockAddress != kBlock)) {
    reading.problem = "flash smaller than the layout";
    return reading;
  }
  std::vector<uint8_t> copy(flash.begin() + blockAddress, flash.begin() + blockAddress + kBlock);
  const Block block{copy.data()};
  reading.activeAddress = blockAddress;
  const std::string which = "block at " + hex(reading.activeAddress);
  const uint32_t size = block.u16(8);
  if (size <= 4 || size > kBlock) {
    reading.problem = which + " has the size " + hex(size);
    return reading;
  }
  if (block.u16(0) != crc16(std::span<const uint8_t>(block.p + 4, size - 4))) {
    reading.problem = which + " does not match its CRC";
    return reading;
  }
  std::span<const uint8_t> parts[5];
  for (std::size_t i = 0; i < 5; ++i) {
    const uint32_t start = block.u24(kComponentFields[i]);
    const uint32_t length = block.u24(kComponentFields[i] + 3);
    if (static_cast<uint64_t>(start) + length > flash.size()) {
      reading.problem = which + ": component " + std::to_string(i) + " outside the flash";
      return reading;
    }
    parts[i] = flash.subspan(start, length);
  }
  const struct {
    const char* name;
    uint16_t computed;
    uint32_t recorded;
  } checks[] = {
      {"MAC", crc16(parts[1], crc16(parts[0])), block.u16(0x3A)},
      {"PHY", crc16(parts[3], crc16(parts[2])), block.u16(0x52)},
      {"option ROM", crc16(parts[4]), block.u16(0x5A)},
  };
  for (const auto& check : checks) {
    if (check.computed != check.recorded) {
      reading.problem = which + ": " + check.name + " does not match its CRC";
      return reading;
    }
  }
  if (!firmwareVersion(parts[1], reading.version)) {
    reading.problem = which + ": no firmware version";
    return reading;
  }
  reading.usable = true;
  return reading;
}

std::vector<uint8_t> referenceUpdate(std::vector<uint8_t> flash, std::span<const uint8_t> image,
                                     std::span<const uint8_t> areaD, std::span<const uint8_t> areaE,
                                     const ReferenceGeometry& g) {
  {
    const Block ncb0{flash.data()};
    const Block ncb1{flash.data() + kBlock};
    const bool slot1 = !ncb0.active();
    const Block active = slot1 ? ncb1 : ncb0;
    const bool type2 = active.freeSize() == 0 || active.freeOffset() == 0 ||
                       inBank(active, slot1 ? kBankB : kBankA);
    if (!type2) transform(flash, g);
  }
  Block ncb0{flash.data()};
  Block ncb1{flash.data() + kBlock};
  const bool newInSlot1 = ncb0.active();
  Block active = newInSlot1 ? ncb0 : ncb1;
  std::vector<uint8_t> newBytes(kBlock, 0);
  Block n{newBytes.data()};

  // The in-block areas, packed from 0x800 in the order A, B, C, F, E, D.
  uint32_t cursor = 0x800;
  auto place = [&](uint32_t field, const uint8_t* content, uint32_t length, uint32_t flag) {
    n.set16(field, cursor | flag);
    n.set16(field + 2, length);
    if (length == 0) return;
    std::memcpy(n.p + cursor, content, length);
    cursor = up(cursor + length, 0x100);
  };
  auto carry = [&](uint32_t field, uint32_t mask, uint32_t flag) {
    place(field, active.p + (active.u16(field) & mask), active.u16(field + 2), flag);
  };
  carry(0x20, 0xFFFF, 0);
  carry(0x24, 0x3FFF, newInSlot1 ? 0x4000 : 0);
  if (active.u16(0x26) != 0 && active.u16(0x2A) != 0 && active.u16(0x24) == active.u16(0x28))
    place(0x28, nullptr, 0, 0);
  else
    carry(0x28, 0xFFFF, 0);
  carry(0x6C, 0xFFFF, 0);
  place(0x68, areaE.data(), static_cast<uint32_t>(areaE.size()), 0);
  place(0x64, areaD.data(), static_cast<uint32_t>(areaD.size()), 0);
  for (const auto& [at, length] : {std::pair<uint32_t, uint32_t>{0x00, 0x1C},
                                   {0x1C, 4},
                                   {0x38, 2},
                                   {0x3C, 4},
                                   {0x4C, 1},
                                   {0x4D, 4},
                                   {0x51, 1},
                                   {0x62, 2},
                                   {0x70, 2}})
    std::memcpy(n.p + at, active.p + at, length);
  n.set16(8, n.u16(0x64) + n.u16(0x66));

  const Block imageNcb{const_cast<uint8_t*>(image.data()) +
                       ((image[3] >> 6 == 2 || image[3] >> 6 == 1) ? 0 : kBlock)};
  std::memcpy(n.p + 4, imageNcb.p + 4, 3);
  n.p[2] = imageNcb.p[2];
  n.p[3] = static_cast<uint8_t>((n.p[3] & 0xC0) | (imageNcb.p[3] & 0x3F));
  n.set24(0x5C, 0);
  n.set24(0x5F, 0);

  // The bank of the new block, erased and filled.
  const uint32_t bank = newInSlot1 ? kBankB : kBankA;
  std::fill(flash.begin() + bank, flash.begin() + bank + kBankSize, 0xFF);
  uint32_t at = bank;
  for (uint32_t field : kComponentFields) {
    const uint32_t from = imageNcb.u24(field);
    const uint32_t size = imageNcb.u24(field + 3);
    program(flash, at, image.data() + from, size);
    n.set24(field, at);
    n.set24(field + 3, size);
    at = up(at + size, g.pageSize);
  }
  for (uint32_t crcField : {0x3Au, 0x52u, 0x5Au})
    n.set16(crcField, imageNcb.u16(crcField));
  n.setState(2);
  n.crc();
  std::memcpy(flash.data() + (newInSlot1 ? kBlock : 0), newBytes.data(), kBlock);

  active.setState(0);
  if (active.freeOffset() != 0 || active.freeSize() != 0) {
    active.set24(0x5C, 0);
    active.set24(0x5F, 0);
    active.crc();
  }
  return flash;
}

std::vector<uint8_t> referenceRollback(std::vector<uint8_t> flash) {
  Block ncb0{flash.data()};
  Block ncb1{flash.data() + kBlock};
  Block current = ncb0.active() ? ncb0 : ncb1;
  Block previous = ncb0.active() ? ncb1 : ncb0;
  previous.setState(2);
  current.setState(0);
  return flash;
}

}  // namespace hlv::test
