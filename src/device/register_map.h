// Every adapter register the program touches, by name, with the fields of them that the program
// or the emulated adapter decodes. Sequences use these constants only; no register number
// appears anywhere else.
#pragma once

#include <cstdint>

namespace hlv::reg {

// Flash command engine.
inline constexpr uint32_t kFlashCommand = 0x100;  // opcode, busy, keep-open, program, start
inline constexpr uint32_t kFlashAddress = 0x108;  // 32 bits, written as two halves
inline constexpr uint32_t kFlashData = 0x10C;     // first byte of a transfer in bits 0-7
inline constexpr uint32_t kFlashFormat = 0x530;   // address, dummy and data byte counts
inline constexpr uint32_t kFlashInterfaceControl = 0x534;
inline constexpr uint32_t kFlashInterfaceSetup = 0x538;

// Command register bits.
inline constexpr uint32_t kFlashCommandOpcodeMask = 0x00FF;
inline constexpr uint32_t kFlashCommandBusy = 1u << 8;
inline constexpr uint32_t kFlashCommandKeepOpen = 1u << 10;
inline constexpr uint32_t kFlashCommandProgram = 1u << 14;
inline constexpr uint32_t kFlashCommandStart = 1u << 15;

// Transfer format register fields.
inline constexpr uint32_t kFlashFormatAddressBytesMask = 0x0003;  // bits 0-1
inline constexpr uint32_t kFlashFormatDummyBytesShift = 4;        // bits 4-6
inline constexpr uint32_t kFlashFormatDummyBytesMask = 0x0070;
inline constexpr uint32_t kFlashFormatDataBytesShift = 8;  // bits 8-10
inline constexpr uint32_t kFlashFormatDataBytesMask = 0x0700;

// Interface control and setup: the interface works once setup holds kFlashInterfaceSetupValue and
// control has kFlashInterfaceEnable (with the clock setting in its low byte).
inline constexpr uint32_t kFlashInterfaceEnable = 1u << 8;
inline constexpr uint32_t kFlashInterfaceSetupValue = 2;

// The split-halves layer names the upper half of the address and data registers by the
// register offset with bit 26 set.
inline constexpr uint32_t kUpperHalfFlag = 1u << 26;
inline constexpr uint32_t kFlashAddressUpper = kFlashAddress | kUpperHalfFlag;
inline constexpr uint32_t kFlashDataUpper = kFlashData | kUpperHalfFlag;

// Control word: saved and restored around every flash session; bit 0 set before an update;
// written by the firmware reset sequences.
inline constexpr uint32_t kControlWord = 0x404;

// MDIO interface to the PHY.
inline constexpr uint32_t kMdioSetup = 0x280;
inline constexpr uint32_t kMdioCommand = 0x284;  // bit 31 reads 1 while a frame runs
inline constexpr uint32_t kMdioWriteData = 0x288;
inline constexpr uint32_t kMdioRegisterAddress = 0x28C;
inline constexpr uint32_t kMdioReadData = 0x290;
inline constexpr uint32_t kMdioBusy = 1u << 31;

// Setup register: (divider << 5) | enable, plus the disable bit.
inline constexpr uint32_t kMdioSetupEnable = 1u << 0;
inline constexpr uint32_t kMdioSetupDisable = 1u << 1;
inline constexpr uint32_t kMdioSetupDividerShift = 5;
// Command register: bits 0-4 the device, bits 5-9 the PHY address, bits 12-15 the frame.
inline constexpr uint32_t kMdioDeviceMask = 0x1F;
inline constexpr uint32_t kMdioPhyShift = 5;
inline constexpr uint32_t kMdioPortMask = 0x3FF;  // PHY and device together
inline constexpr uint32_t kMdioFrameMask = 0xF000;
inline constexpr uint32_t kMdioAddressFrame = 0xB000;
inline constexpr uint32_t kMdioReadFrame = 0x9000;
inline constexpr uint32_t kMdioWriteFrame = 0xA000;

// Firmware control.
inline constexpr uint32_t kGlobalReset = 0x0000;
inline constexpr uint32_t kFirmwareAlive = 0x0018;
inline constexpr uint32_t kFirmwareInterface2Word = 0x0388;
inline constexpr uint32_t kInterface1Reset = 0x0520;
inline constexpr uint32_t kFirmwareControlBits = 0x053C;
inline constexpr uint32_t kFirmwareState = 0x0704;
inline constexpr uint32_t kFirmwareScratch = 0x32A8;
inline constexpr uint32_t kBlockControlA = 0x4000;
inline constexpr uint32_t kBlockControlB = 0x5000;
inline constexpr uint32_t kBlockControlC = 0x7000;

// Global reset register: bit 15 starts the reset, bit 14 must be clear with it.
inline constexpr uint32_t kGlobalResetStart = 1u << 15;
inline constexpr uint32_t kGlobalResetOther = 1u << 14;
// Bit 29 of each block control register: the block runs; cleared before a global reset.
inline constexpr uint32_t kBlockRun = 1u << 29;
// Bit 4 of the firmware control bits.
inline constexpr uint32_t kFirmwareControlReset = 1u << 4;
// Firmware state: this value, with the interface-2 word 0, means no firmware has answered; bit 4
// is set once the interface-1 reset has completed.
inline constexpr uint32_t kFirmwareStateSilent = 0x6000000;
inline constexpr uint32_t kFirmwareStateResetDone = 1u << 4;
// Written into the interface-2 word; the restarted firmware overwrites it.
inline constexpr uint32_t kFirmwareInterface2Marker = 0xDEAD;
// Control word values of the firmware reset sequences, each of which the firmware acts on.
inline constexpr uint32_t kControlResetArm = 0x40E1;     // halt, for a reset
inline constexpr uint32_t kControlResetHold = 0x80E0;    // hold; closes an interface-1 reset
inline constexpr uint32_t kControlResetDrive = 0x180E0;  // drive the interface-1 reset
inline constexpr uint32_t kControlRun = 0x40E0;          // run (again)
// Written to the interface-1 reset register to ask for that reset.
inline constexpr uint32_t kInterface1ResetRequest = 1;

// Hardware semaphores shared with the adapter's firmware: a read returning non-zero grants,
// writing 1 releases.
inline constexpr uint32_t kMdioSemaphore = 0x3A0;
inline constexpr uint32_t kFuseSemaphore = 0x3A4;

// Writing this value releases a hardware semaphore.
inline constexpr uint32_t kSemaphoreRelease = 1;

// Chip revision, serial test port and fuse read port.
inline constexpr uint32_t kChipRevision = 0x1C;
inline constexpr uint32_t kTestPortControl = 0x3200;
inline constexpr uint32_t kTestPortData = 0x3204;
inline constexpr uint32_t kFuseResult = 0x3330;
inline constexpr uint32_t kFuseCommand = 0x3334;

// Chip revision whose fuses hold a signing-key digest.
inline constexpr uint32_t kChipRevisionWithKeyFuses = 0x10A;
// Serial test port control lines; the data register takes kTestPortDataSetup at the start.
inline constexpr uint32_t kTestPortEnable = 1u << 28;
inline constexpr uint32_t kTestPortClock = 1u << 24;
inline constexpr uint32_t kTestPortModeSelect = 1u << 20;
inline constexpr uint32_t kTestPortDataIn = 1u << 16;
inline constexpr uint32_t kTestPortDataSetup = 0x10000;
// Fuse read port: the idle command; a command selects a fuse word in bits 16-31 and a lane in
// the low half, whose strobe bit then latches the word into the result register.
inline constexpr uint32_t kFuseCommandIdle = 0xCCCC;

// Registers of the PHY behind the MDIO interface (Clause 45: a device and a register address).
// Not adapter registers: they are reached through the MDIO frames above.
namespace phy {
// The device and register whose answer tells that a PHY is at an address.
inline constexpr uint32_t kIdentifierDevice = 1;
inline constexpr uint32_t kIdentifierRegister = 3;
// The vendor device, where every register of the firmware control sequences lies.
inline constexpr uint32_t kVendorDevice = 0x1E;
inline constexpr uint16_t kControl = 0x0000;  // bit 15 restarts the PHY, in its restart mode
inline constexpr uint16_t kRestartMode = 0xC001;
inline constexpr uint16_t kRestartOption = 0xC442;
inline constexpr uint16_t kRestartScratch = 0xC3FE;
inline constexpr uint16_t kStatus = 0xC841;
inline constexpr uint16_t kRestartCount = 0xC886;  // counts the restarts
inline constexpr uint16_t kRegister1000 = 0x1000;
inline constexpr uint16_t kReadyBit = 1u << 6;          // in kStatus: a restart has completed
inline constexpr uint16_t kRestartBit = 1u << 15;       // in kControl
inline constexpr uint16_t kRegister1000Bit3 = 1u << 3;  // cleared before new firmware runs

// The writes that restart the PHY, in the order it takes them (all on the vendor device): into
// its restart mode, the restart itself, out of the restart mode.
struct RegisterWrite {
  uint16_t address;
  uint16_t value;
};
inline constexpr RegisterWrite kRestartWrites[] = {
    {kRestartMode, 0x0041},    {kControl, 0x0000},      {kRestartOption, 0x0001},
    {kRestartScratch, 0x0000}, {kControl, kRestartBit}, {kRestartMode, 0x0000},
};
}  // namespace phy

// Every register above, by offset (the split-halves names are not offsets: the flash layer turns
// them into kFlashAddress and kFlashData). A register added above belongs in this list too; the
// window an adapter must map to be worked on follows from it.
inline constexpr uint32_t kRegisterOffsets[] = {
    kFlashCommand,
    kFlashAddress,
    kFlashData,
    kFlashFormat,
    kFlashInterfaceControl,
    kFlashInterfaceSetup,
    kControlWord,
    kMdioSetup,
    kMdioCommand,
    kMdioWriteData,
    kMdioRegisterAddress,
    kMdioReadData,
    kGlobalReset,
    kFirmwareAlive,
    kFirmwareInterface2Word,
    kInterface1Reset,
    kFirmwareControlBits,
    kFirmwareState,
    kFirmwareScratch,
    kBlockControlA,
    kBlockControlB,
    kBlockControlC,
    kMdioSemaphore,
    kFuseSemaphore,
    kChipRevision,
    kTestPortControl,
    kTestPortData,
    kFuseResult,
    kFuseCommand,
};

constexpr uint32_t highestRegisterOffset() {
  uint32_t highest = 0;
  for (const uint32_t offset : kRegisterOffsets)
    highest = offset > highest ? offset : highest;
  return highest;
}

// The highest register the program reads or writes, and the bytes of region 0 an adapter must
// map so that every register access reaches it (its 32-bit word included). An adapter whose
// region is shorter is not worked on at all: reads past the window give 0xFFFFFFFF and writes
// are lost, so a reset sequence would seem to run while nothing happened.
inline constexpr uint32_t kHighestRegisterOffset = highestRegisterOffset();
inline constexpr uint64_t kRegisterWindowNeeded = uint64_t{kHighestRegisterOffset} + 4;

}  // namespace hlv::reg
