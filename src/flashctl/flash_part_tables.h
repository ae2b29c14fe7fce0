// The flash parts this layer knows, as data: how each answers the JEDEC identification, and the
// geometry, opcodes and timeout of each type.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "flashctl/flash_status.h"

namespace hlv {

// What decides between the rows of one manufacturer and device code.
enum class IdRule : uint8_t {
  kAny,            // any third and fourth byte
  kThirdEquals,    // the third byte equals `value`
  kFourthZero,     // the fourth byte is 0
  kFourthNonZero,  // the fourth byte is not 0
};

struct PartIdentification {
  uint8_t manufacturer;  // first byte of the answer
  uint8_t device;        // second byte
  IdRule rule;
  uint8_t value;
  FlashPartType type;
};

std::span<const PartIdentification> partIdentificationTable();

// The type of the part answering with this identification word (first byte in bits 0-7),
// if the table knows it.
std::optional<FlashPartType> identifyJedecWord(uint32_t word);

struct EraseOpcode {
  uint8_t opcode;  // 0 with pages 0: none
  uint16_t pages;
};

struct PartParameters {
  FlashPartType type;
  uint16_t pageSize;
  bool readyBitStatus;  // status read 0xD7, ready when bit 7 is set
  bool noWriteEnable;   // takes neither a write enable nor a status write
  EraseOpcode smallErase;
  EraseOpcode largeErase;
  // The large unit at address 0 is two units, the second starting this many pages in, and
  // takes an erase of each; 0 when it is one.
  uint16_t splitFirstUnitPages;
  uint16_t statusTimeout;
  uint32_t flashSize;
};

std::span<const PartParameters> partParameterTable();
const PartParameters* parametersOf(FlashPartType type);

}  // namespace hlv
