#include "sim/sfdp_table.h"

#include <bit>

namespace hlv::sim {
namespace {

constexpr uint32_t kVendorTableAddress = 0x80;

void putWord(std::vector<uint8_t>& area, uint32_t address, uint32_t word) {
  for (uint32_t i = 0; i < 4; ++i)
    area[address + i] = static_cast<uint8_t>(word >> (8 * i));
}

uint32_t eraseTypeEntry(const EraseCommand* erase) {
  if (erase == nullptr) return 0;
  return static_cast<uint32_t>(erase->opcode) << 8 |
         static_cast<uint32_t>(std::countr_zero(erase->size));
}

// Typical whole-chip erase time in the table's encoding: a count of 1 to 32 in bits 24-28 and
// a unit (16 ms, 256 ms, 4 s, 64 s) in bits 29-30.
uint32_t chipEraseTimeField(uint32_t capacity) {
  const uint64_t typicalMs = static_cast<uint64_t>(capacity / (64 * 1024) + 1) * 150;
  const uint64_t units[] = {16, 256, 4000, 64000};
  for (uint32_t unit = 0; unit < 4; ++unit) {
    const uint64_t count = (typicalMs + units[unit] - 1) / units[unit];
    if (count <= 32) return static_cast<uint32_t>(unit << 29 | (count - 1) << 24);
  }
  return 3u << 29 | 31u << 24;
}

}  // namespace

std::vector<uint8_t> buildSfdpArea(const FlashPartModel& model) {
  std::vector<uint8_t> area(kSfdpAreaSize, 0xFF);
  const bool revision16 = model.sfdpRevision == SfdpRevision::k1_6;
  const uint32_t minor = revision16 ? 6 : 0;
  const uint32_t tableWords = revision16 ? 16 : 9;
  const uint32_t headerCount = revision16 ? 2 : 1;

  putWord(area, 0, 0x50444653);  // "SFDP"
  putWord(area, 4, 0xFF000000 | (headerCount - 1) << 16 | 1 << 8 | minor);
  // Basic flash parameter table: identifier 0xFF00.
  putWord(area, 8, tableWords << 24 | 1 << 16 | minor << 8 | 0x00);
  putWord(area, 12, 0xFF000000 | kSfdpBasicTableAddress);
  if (revision16) {
    // Four-byte address instruction table, identifier 0xFF84; readers of the basic table skip it.
    putWord(area, 16, 2u << 24 | 1 << 16 | 0 << 8 | 0x84);
    putWord(area, 20, 0xFF000000 | kVendorTableAddress);
    putWord(area, kVendorTableAddress, 0);
    putWord(area, kVendorTableAddress + 4, 0xFFFFFFFF);
  }

  const EraseCommand* small = nullptr;
  for (const EraseCommand& erase : model.erases) {
    if (erase.size == 4096) small = &erase;
  }
  // Word 1: 4 KiB erase (bits 0-1 = 01 and its opcode), write granularity of 64 bytes or more,
  // and how the status register is written: bit 3 set with bit 4 clear means after opcode 0x50.
  const uint32_t statusBits = model.volatileStatusWriteEnable ? 0x08 : 0x00;
  const uint32_t word1 = 0xFF800000 | (small != nullptr ? small->opcode : 0xFFu) << 8 | 0xE0 |
                         statusBits | 1u << 2 | (small != nullptr ? 1u : 3u);
  const uint32_t word2 = model.capacity * 8 - 1;  // density in bits, minus one
  const EraseCommand* types[4] = {};
  for (std::size_t i = 0; i < model.erases.size() && i < 4; ++i)
    types[i] = &model.erases[i];
  const uint32_t word8 = eraseTypeEntry(types[0]) | eraseTypeEntry(types[1]) << 16;
  const uint32_t word9 = eraseTypeEntry(types[2]) | eraseTypeEntry(types[3]) << 16;

  const uint32_t table = kSfdpBasicTableAddress;
  putWord(area, table + 0x00, word1);
  putWord(area, table + 0x04, word2);
  putWord(area, table + 0x08, 0);           // no 1-1-4 or 1-4-4 fast reads
  putWord(area, table + 0x0C, 0);           // no 1-1-2 or 1-2-2 fast reads
  putWord(area, table + 0x10, 0xFFFFFFEE);  // no 2-2-2 or 4-4-4 fast reads
  putWord(area, table + 0x14, 0xFF00FFFF);
  putWord(area, table + 0x18, 0xFF00FFFF);
  putWord(area, table + 0x1C, word8);
  putWord(area, table + 0x20, word9);
  if (revision16) {
    // Word 10: maximum erase time is 2 * (2 + 1) times the typical one.
    putWord(area, table + 0x24, 0x00000002);
    // Word 11: page size as a power of two in bits 4-7, typical chip erase time.
    const uint32_t pageExponent = static_cast<uint32_t>(std::countr_zero(model.pageSize));
    putWord(area, table + 0x28, chipEraseTimeField(model.capacity) | pageExponent << 4 | 0x1);
    putWord(area, table + 0x2C, 0);
    putWord(area, table + 0x30, 0);
    // Word 14: busy polled through bit 0 of the ordinary status read (bit 2), and through bit 7
    // of the flag status register (bit 3) on a part that has one.
    putWord(area, table + 0x34, model.flagStatusRegister ? 0x0000000C : 0x00000004);
    putWord(area, table + 0x38, 0);
    // Word 16: non-volatile status register written after the ordinary write enable (bit 0), or
    // one written after opcode 0x50 (bit 2).
    putWord(area, table + 0x3C, model.volatileStatusWriteEnable ? 0x00000004 : 0x00000001);
  }
  return area;
}

}  // namespace hlv::sim
