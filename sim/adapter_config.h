// What an emulated adapter is built from: its flash part, the part's state at power-on, its
// timings and the faults to inject.
#pragma once

#include <array>
#include <csignal>
#include <cstdint>
#include <optional>

namespace hlv::sim {

// The JEDEC identification that selects the part answering the short identification command.
inline constexpr uint32_t kShortIdPart = 0x651F;

enum class SfdpRevision : uint8_t { k1_0, k1_6 };

// What an erase cut short leaves past the leading run it erased: each byte erased or as it was
// (kBytes), or each bit erased or as it was (kBits). The cells of a NOR unit rise together, not
// a byte at a time, so on a real part a byte may read with some bits erased and others still
// programmed: a state field of 0b00 may read 0b01 or 0b10.
enum class TornErase : uint8_t { kBytes, kBits };

// How one program or erase command goes wrong (AdapterConfig::flashFaultAt): the part ignores
// it (no busy time, nothing changes), carries it out with one bit left as it was (a program
// leaves one bit it should clear set, an erase one programmed bit of its unit programmed), or
// carries it out and then stays busy for good.
enum class FlashFault : uint8_t { kIgnored, kWrongBit, kStuck };

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
  // A status register write (non-volatile): unset, the part's own typical time (see
  // FlashPartModel::writeStatusNs); set, this time on every part.
  std::optional<uint64_t> writeStatusNs;
  uint64_t firmwareBootNs = 250000000;    // from a global reset until the firmware answers
  uint64_t interface1ResetNs = 30000000;  // the interface-1 reset, once driven
  uint64_t phyRestartNs = 120000000;      // from the PHY's restart until it is ready
  uint64_t mdioFrameNs = 4000;            // one MDIO frame
  // From the write that starts a global reset until 0x18, 0x388 and 0x704 show it (they read
  // their old values until then), plus up to firmwareResetJitterNs more, drawn for each reset
  // from firmwareResetJitterSeed.
  uint64_t firmwareResetLatencyNs = 1000000;
  uint64_t firmwareResetJitterNs = 0;
  uint64_t firmwareResetJitterSeed = 1;
  // The running firmware takes the MDIO semaphore and uses the bus for firmwareMdioUseNs about
  // every firmwareMdioEveryNs (0: never), each gap drawn from half to one and a half times that
  // from firmwareMdioSeed.
  uint64_t firmwareMdioEveryNs = 20000000;
  uint64_t firmwareMdioUseNs = 500000;
  uint64_t firmwareMdioSeed = 1;
};

// What firmware the adapter runs: which interface it offers, or none.
enum class FirmwareKind : uint8_t { kNone, kInterface1, kInterface2 };

// The firmware's side of the hardware and the chip's fuses.
struct FirmwareConfig {
  FirmwareKind kind = FirmwareKind::kInterface1;
  bool stuck = false;  // never answers after a reset
  bool phy = true;     // a PHY answers on the MDIO interface
  uint8_t phyAddress = 1;
  bool phyStuck = false;  // never becomes ready after a restart
  uint32_t chipRevision = 0x109;
  uint32_t fuseStatus = 0;               // the fuse status word
  std::array<uint8_t, 32> fuseDigest{};  // the key digest fuses, in memory order
  bool mdioSemaphoreHeld = false;        // the firmware takes it back as soon as it is released
  bool fuseSemaphoreHeld = false;
  // Test hook: the adapter's test signal (AdapterConfig::testSignal) is raised in the process
  // right after the program is granted a hardware semaphore for the n-th time (0: never).
  uint64_t interruptAtGrant = 0;
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
  // The part also has a flag status register (opcode 0x70, bit 7 set when ready), and its SFDP
  // area (revision 1.6) says that busy is polled there instead of in the status register.
  bool flagStatusRegister = false;
  bool protectedAtPowerOn = false;        // status register protection bits set at power-on
  std::optional<uint64_t> powerCutAfter;  // power lost after this many program/erase commands
  // The cut strikes during the busy time of that command instead of after it: the program or
  // erase is left partly done, as drawn from tornSeed (see SpiFlashPart).
  bool powerCutTorn = false;
  uint64_t tornSeed = 1;
  TornErase tornErase = TornErase::kBytes;
  // The n-th program or erase command of a run (counted as powerCutAfter counts them; 0: none)
  // goes wrong as flashFault says.
  uint64_t flashFaultAt = 0;
  FlashFault flashFault = FlashFault::kIgnored;
  // Test hook: the process is killed (SIGKILL) once the run's virtual clock reaches this many
  // microseconds (0: never), as when the tool is killed at that point of its run: the part
  // completes what it was given and keeps its power, and nothing of the tool's teardown runs.
  uint64_t killAtUs = 0;
  // Test hooks that raise a signal in the process, as an operator's Ctrl-C, a termination
  // request or a dropped session would at that point of the run: the signal (SIGINT, SIGTERM,
  // SIGHUP or SIGQUIT; the semaphore grant hook raises it too), raised right after the part has
  // received its n-th SPI command of the run, reads included (0: never), and once the run's
  // virtual clock reaches this many microseconds (0: never).
  int testSignal = SIGINT;
  uint64_t signalAtCommand = 0;
  uint64_t signalAtUs = 0;
  bool engineStuck = false;               // command engine busy forever
  bool partStuck = false;                 // flash part busy forever
  // Not the adapter's doing but the machine's: the kernel refuses to map the function's
  // registers with this errno (0: it maps them), as a locked-down kernel does with EPERM.
  int mappingRefusal = 0;
  FirmwareConfig firmware;
  AdapterTimings timings;
};

}  // namespace hlv::sim
