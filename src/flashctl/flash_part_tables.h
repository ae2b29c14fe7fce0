// The flash parts this layer knows, as data: one row each, with how the part answers its
// identification, its geometry, opcodes and status timeout, and its quirks. A new part is a new
// row; the sequences ask the row, never the part's type number.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "flashctl/flash_status.h"

namespace hlv {

// What decides between the rows of one manufacturer and device code.
enum class IdRule : uint8_t {
  kShortAnswer,    // answers the short identification (0x15) with the manufacturer, then device
  kAny,            // any third and fourth byte of the JEDEC identification
  kThirdEquals,    // the third byte equals `value`
  kFourthZero,     // the fourth byte is 0
  kFourthNonZero,  // the fourth byte is not 0
};

struct PartIdentification {
  uint8_t manufacturer;  // first byte of the answer
  uint8_t device;        // second byte
  IdRule rule = IdRule::kAny;
  uint8_t value = 0;
};

struct EraseOpcode {
  uint8_t opcode = 0;  // 0 with pages 0: none
  uint16_t pages = 0;
};

// What sets a part apart from the usual status register part (status read 0x05, busy in bit 0,
// write enable 0x06 before every program, erase and status write).
struct PartQuirks {
  bool readyBitStatus = false;  // status read 0xD7, ready when bit 7 is set
  bool noWriteEnable = false;   // takes neither a write enable nor a status write
  // The large unit at address 0 is two units, the second starting this many pages in, and
  // takes an erase of each; 0 when it is one.
  uint16_t splitFirstUnitPages = 0;
};

struct FlashPart {
  const char* name;    // the identification as an operator writes it: "EF6015", "1F27xx"
  FlashPartType type;  // the number the trace records and flashType() give
  PartIdentification id;
  uint32_t flashSize;
  uint16_t pageSize = 256;
  EraseOpcode smallErase{};
  EraseOpcode largeErase{};
  uint16_t statusTimeout = 10;  // in units of 78125 counted register accesses
  PartQuirks quirks{};
};

// Every row, in the order identification tries them.
std::span<const FlashPart> flashPartTable();

// The row of the part answering the short identification with this 16-bit word (first byte in
// bits 0-7), if one does.
const FlashPart* partOfShortAnswer(uint32_t answer);
// The type of the part answering the JEDEC identification with this word (first byte in bits
// 0-7), if the table knows it.
std::optional<FlashPartType> identifyJedecWord(uint32_t word);

// The row of a type, or nullptr for the types without one (SFDP, no interface, unknown).
const FlashPart* parametersOf(FlashPartType type);

}  // namespace hlv
