// The SPI NOR parts the emulated adapter can carry: geometry, command set, status style and
// timings of each, chosen from the identification the adapter is configured with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/adapter_config.h"

namespace hlv::sim {

// How the part tells that it is busy.
enum class StatusStyle : uint8_t {
  kStatusRegister,  // opcode 0x05: bit 0 set while busy, bit 1 write-enable latch, bits 2-4 lock
  kReadyBit,        // opcode 0xD7: bit 7 set when ready; no write-enable latch, no lock bits
};

struct EraseCommand {
  uint8_t opcode;
  uint32_t size;  // bytes erased
};

struct FlashPartModel {
  std::string name;              // the known part's identification as the lab writes it; "" else
  std::vector<uint8_t> idBytes;  // answer to the JEDEC identification (the short one for 0x651F)
  bool shortId = false;          // answers 0x15 instead of 0x9F
  bool known = false;            // one of the fixed parts; otherwise a generic one
  uint32_t capacity = 0;
  uint32_t pageSize = 256;
  StatusStyle status = StatusStyle::kStatusRegister;
  std::vector<EraseCommand> erases;
  // A part whose largest erase unit at address 0 is two units, the second starting this many
  // bytes in: an erase anywhere in one half erases only that half (0: not split).
  uint32_t firstUnitSplit = 0;
  bool sfdp = false;
  bool volatileStatusWriteEnable = false;  // opcode 0x50 unlocks a status write
  bool flagStatusRegister = false;         // opcode 0x70: bit 7 set when ready
  // How long a status register write keeps the part busy: the part's typical figure (a
  // non-volatile write of several milliseconds); 0 for parts without a status write.
  uint64_t writeStatusNs = 0;
  SfdpRevision sfdpRevision = SfdpRevision::k1_6;

  uint8_t statusOpcode() const { return status == StatusStyle::kReadyBit ? 0xD7 : 0x05; }
  bool usesWriteEnable() const { return status == StatusStyle::kStatusRegister; }
  const EraseCommand* eraseFor(uint8_t opcode) const;
};

// The part an adapter with this configuration carries. Identifications that no known part
// answers give a generic part (4 KiB, 32 KiB and 64 KiB erases, 256-byte pages) of the
// configured capacity, or else 2 to the power of the third identification byte (2 MiB when that
// byte is out of range).
FlashPartModel partModelFor(const AdapterConfig& config);

// One identification for each known part (the short-ID part included), in the table's order: a
// row that takes any third byte is given 00, the four-byte rows their fourth byte 00 or 01.
std::vector<uint32_t> knownPartIdentifications();

// Those of the known parts that hold exactly this many bytes.
std::vector<uint32_t> knownPartsOfCapacity(uint32_t capacity);

// Capacity of the part an adapter with this configuration carries.
uint32_t partCapacity(const AdapterConfig& config);

// Capacities a generic part may be given.
bool validGenericCapacity(uint64_t bytes);

// The identification as text: "651F" for the short-ID part, otherwise six hex digits (eight
// for a four-byte identification), upper case.
std::string formatJedecId(uint32_t jedecId);

}  // namespace hlv::sim
