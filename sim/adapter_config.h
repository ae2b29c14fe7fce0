// What an emulated adapter is built from: its flash part, the part's state at power-on, its
// timings and the faults to inject.
#pragma once

#include <cstdint>
#include <optional>

namespace hlv::sim {

// The JEDEC identification that selects the part answering the short identification command.
inline constexpr uint32_t kShortIdPart = 0x651F;

enum class SfdpRevision : uint8_t { k1_0, k1_6 };

struct AdapterTimings {
  uint64_t registerReadNs = 1000;
  uint64_t registerWriteNs = 250;
  // One started word of the command engine: busy for this long, plus up to engineJitterNs more
  // (drawn from engineJitterSeed), so that a poll of the busy bit sees it set for several reads.
  uint64_t engineTransferNs = 3000;
  uint64_t engineJitterNs = 0;
  uint64_t engineJitterSeed = 1;
  uint64_t pageProgramNs = 700000;    // one page program
  uint64_t sectorEraseNs = 45000000;  // a 4 KiB erase
  uint64_t blockEraseNs = 150000000;  // a 64 KiB erase
  uint64_t writeStatusNs = 2000000;   // a status register write
};

// Busy times of the part cut to tens of microseconds, for runs where time is not what is
// tested: still long enough that a command sent before the part reports ready is caught, as the
// command engine's own busy time and a status poll take a few microseconds each.
inline AdapterTimings quickTimings() {
  AdapterTimings timings;
  timings.pageProgramNs = 40000;
  timings.sectorEraseNs = 80000;
  timings.blockEraseNs = 160000;
  timings.writeStatusNs = 20000;
  return timings;
}

struct AdapterConfig {
  // What the part answers to the JEDEC identification, as the bytes read in order: 0xEF6015 is
  // EF, 60, 15 (a fourth byte 0). Values above 0xFFFFFF give four bytes (0x1F240001 is 1F, 24, 00,
  // 01). kShortIdPart selects the part that answers the short identification command instead.
  uint32_t jedecId = 0xEF6015;
  // Capacity of a part the identification table does not know (a power of two from 64 KiB to
  // 16 MiB); by default 2 to the power of the identification's third byte.
  std::optional<uint32_t> capacity;
  bool sfdp = false;  // the part answers the SFDP read with a table
  SfdpRevision sfdpRevision = SfdpRevision::k1_6;
  // The status register is written after opcode 0x50, which unlocks one status write but does not
  // set the write enable latch that program and erase need; the SFDP area says so.
  bool volatileStatusWriteEnable = false;
  bool protectedAtPowerOn = false;        // status register protection bits set at power-on
  std::optional<uint64_t> powerCutAfter;  // power lost after this many program/erase commands
  bool engineStuck = false;               // command engine busy forever
  bool partStuck = false;                 // flash part busy forever
  AdapterTimings timings;
};

}  // namespace hlv::sim
