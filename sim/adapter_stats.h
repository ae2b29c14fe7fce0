// What the emulated adapter counts: accesses, flash work, virtual time and protocol violations
// (sequences a real adapter would not forgive).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace hlv::sim {

enum class Violation : uint8_t {
  kTransferWhileEngineBusy,       // a word started while the command engine was busy
  kRegisterWriteWhileEngineBusy,  // address, data or format changed during a transfer
  kDataReadWhileEngineBusy,       // the data register read before the transfer ended
  kCommandWhilePartBusy,          // a command other than a status read while the part was busy
  kNoWriteEnable,                 // program, erase or status write without write enable
  kWriteProtected,                // program or erase while the protection bits were set
  kPageCrossing,                  // program data running past the end of its page
  kUnalignedErase,                // erase address not at the start of its unit
  kFormatMismatch,                // transfer format that does not fit the opcode
  kCommandChangedInOpenTransfer,  // a continuing word with another opcode or direction
  kAddressBeyondCapacity,         // a read, program or erase reaching past the part's end
  kUnknownOpcode,                 // an opcode the part does not know (identification probes aside)
  kChipSelectHeldAtClose,         // the interface disabled while a keep-open word held chip select
  kInterfaceNotEnabled,           // a word started before the interface was set up and enabled
  kAddressOutOfStep,              // a continuing word after the address was moved off the transfer
  kMdioWithoutSemaphore,          // an MDIO frame while the program did not hold its semaphore
  kMdioWhileBusy,                 // a frame started, or its registers used, while one ran
  kFuseWithoutSemaphore,          // a test port or fuse read port access without the fuse semaphore
  kTestPortSequence,              // a serial test port sequence other than the fuse-port opening
  kFirmwareResetOutOfOrder,       // a firmware reset or reload step that does not fit its state
  kResetWithBlockRunning,         // a global reset while a block's bit 29 was set: the block hangs
  kBlockStopOutOfOrder,           // a block stopped while a block feeding it still ran
  kKeptBitsChanged,               // the reset word or a block register written with bits changed
  kSettleTimeTooShort,            // a step taken before the time the one before it needs
  kReleaseWithoutHolding,         // a hardware semaphore released by the program, not holding it
  kMdioNotSetUp,                  // an MDIO frame while 0x280 did not hold the working setup
  kPhyRestartSequence,            // a PHY restart-mode write out of order, or a lone restart bit
  kFuseStepTooShort,              // a fuse word strobed, or its strobe released, within 1 ms
  kFusePortClosed,                // a fuse word read while the fuse read port was closed
  // Not a kind: the number of kinds. A new kind goes above it, and so counts and sizes the
  // per-kind counters by itself; violationName must name it (the build refuses a switch that
  // misses one).
  kCount,
};

inline constexpr std::size_t kViolationKinds = static_cast<std::size_t>(Violation::kCount);

// Name of a violation kind as used in the stats file ("violations_<name>").
std::string_view violationName(Violation kind);

struct AdapterStats {
  uint64_t regReads = 0;
  uint64_t regWrites = 0;
  uint64_t unclaimedAccesses = 0;  // accesses to registers no block answers
  uint64_t transfers = 0;          // words started on the command engine
  uint64_t commands = 0;           // SPI commands (opcodes) the part received, reads included
  uint64_t bytesRead = 0;          // array bytes the part sent
  uint64_t bytesProgrammed = 0;    // data bytes of executed program commands
  uint64_t erases4k = 0;
  uint64_t erases32k = 0;
  uint64_t erases64k = 0;
  uint64_t erasesOther = 0;
  uint64_t modifyingTransfers = 0;  // program and erase commands the part received
  uint64_t violations = 0;
  std::array<uint64_t, kViolationKinds> violationsByKind{};
  uint64_t virtualNs = 0;
  bool powerCut = false;        // the adapter lost power at some point
  uint64_t firmwareResets = 0;  // global resets started
  uint64_t firmwareBoots = 0;   // starts after a reset that took the firmware's boot time
  uint64_t phyRestarts = 0;
  uint64_t mdioFrames = 0;
  uint64_t firmwareMdioUses = 0;  // times the firmware took the MDIO semaphore and used the bus
  bool semaphoreHeld = false;     // the program holds a hardware semaphore (as of the stats' time)
  // The program or erase command during (torn) or after which the power was cut: its opcode and
  // the address it was sent with (0 and 0 when no command was cut).
  uint8_t powerCutOpcode = 0;
  uint32_t powerCutAddress = 0;
  bool flashFaultStruck = false;  // the configured flash fault struck its command

  uint64_t count(Violation kind) const { return violationsByKind[static_cast<std::size_t>(kind)]; }
  void record(Violation kind) {
    ++violations;
    ++violationsByKind[static_cast<std::size_t>(kind)];
  }
};

}  // namespace hlv::sim
