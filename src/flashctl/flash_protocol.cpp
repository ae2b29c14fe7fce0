#include "flashctl/flash_protocol.h"

#include "device/register_map.h"
#include "flashctl/flash_part_tables.h"
#include "flashctl/flash_protocol_trace.h"

namespace hlv {
namespace {

namespace tp = trace_points::flash_protocol;

// Transfers of the identification and SFDP reads: format register word, command register word.
constexpr uint32_t kShortIdFormat = 0x0200;  // two data bytes
constexpr uint32_t kShortIdCommand = 0x8015;
constexpr uint32_t kJedecIdFormat = 0x0400;  // four data bytes
constexpr uint32_t kJedecIdCommand = 0x809F;
constexpr uint32_t kSfdpFormat = 0x0413;  // three address bytes, one dummy, four data bytes
constexpr uint32_t kSfdpCommand = 0x805A;

// Opcodes and status conventions every part starts from.
constexpr uint16_t kWriteEnableOpcode = 0x06;
constexpr uint16_t kVolatileStatusWriteEnableOpcode = 0x50;
constexpr uint16_t kWriteStatusOpcode = 0x01;
constexpr uint16_t kReadStatusOpcode = 0x05;
constexpr uint16_t kReadOpcode = 0x03;
constexpr uint16_t kProgramOpcode = 0x02;
constexpr uint16_t kDefaultPageSize = 256;
constexpr uint16_t kDefaultStatusTimeout = 10;
constexpr uint16_t kSfdpStatusTimeout = 60;

constexpr uint16_t kReadyBitStatusOpcode = 0xD7;
constexpr uint16_t kFlagStatusOpcode = 0x70;
constexpr uint16_t kStatusBit7 = 0x80;
constexpr uint16_t kStatusBit0 = 0x01;

constexpr uint16_t kStartBit = reg::kFlashCommandStart;
constexpr uint16_t kWriteEnableFormat = 0x0000;
constexpr uint16_t kWriteStatusFormat = 0x0001;  // one address byte: the status value
constexpr uint16_t kStatusFormat = 0x0100;       // one data byte
constexpr uint16_t kWordFormat = 0x0403;         // three address bytes, four data bytes

uint16_t lowerHalf(uint32_t value) {
  return static_cast<uint16_t>(value);
}

// Both halves of the data register: the lower half read first, the upper half from the same
// hardware read.
uint32_t readDataWord(const FlashHwContext& context) {
  const uint32_t lower = readReg(context.deviceIndex, reg::kFlashData) & 0xFFFF;
  const uint32_t upper = readReg(context.deviceIndex, reg::kFlashDataUpper) & 0xFFFF0000;
  return upper | lower;
}

void buildCommandWords(FlashParams& params) {
  if (!params.noWriteEnable) {
    // Program and erase always need the write enable latch, which only opcode 0x06 sets; a part
    // whose status register is written after a different enable gets that one for the status
    // write alone.
    params.writeEnableCommand = kStartBit | kWriteEnableOpcode;
    params.statusWriteEnableCommand = kStartBit | params.wrenOpcode;
    params.writeEnableFormat = kWriteEnableFormat;
    params.writeStatusCommand = kStartBit | params.wrsrOpcode;
    params.writeStatusFormat = kWriteStatusFormat;
  }
  params.statusCommand = kStartBit | params.rdsrOpcode;
  params.statusFormat = kStatusFormat;
  params.readCommand = kStartBit | params.readOpcode;
  params.readFormat = kWordFormat;
  params.readContinueCommand = kStartBit | reg::kFlashCommandKeepOpen | params.readOpcode;
  params.programFormat = kWordFormat;
  params.programContinueCommand =
      kStartBit | reg::kFlashCommandProgram | reg::kFlashCommandKeepOpen | params.programOpcode;
  params.programLastCommand = reg::kFlashCommandProgram | params.programOpcode;
}

void loadSfdpParams(const FlashHwContext& context, FlashParams& params) {
  const uint32_t headerCount = (readSfdpWord(context, 4) >> 16 & 0xFF) + 1;
  uint32_t table = 0;
  uint8_t minor = 0;
  uint8_t major = 0;
  uint8_t length = 0;
  for (uint32_t i = 0; i < headerCount; ++i) {
    const uint32_t first = readSfdpWord(context, 8 + 8 * i);
    const uint32_t second = readSfdpWord(context, 12 + 8 * i);
    if ((second >> 24) == 0xFF && (first & 0xFF) == 0x00) {
      table = second & 0xFFFFFF;
      minor = static_cast<uint8_t>(first >> 8);
      major = static_cast<uint8_t>(first >> 16);
      length = static_cast<uint8_t>(first >> 24);
    }
  }
  trace::emit(tp::kSfdpHeader, table, major, minor, length);

  const uint32_t d1 = readSfdpWord(context, table);
  const uint32_t d2 = readSfdpWord(context, table + 0x04);
  const uint32_t d8 = readSfdpWord(context, table + 0x1C);
  const uint32_t d9 = readSfdpWord(context, table + 0x20);
  const bool newer = minor > 4 || major > 1;

  if (newer && length > 15) {
    const uint32_t d16 = readSfdpWord(context, table + 0x3C);
    params.wrenOpcode = (d16 & 0x4) != 0 ? kVolatileStatusWriteEnableOpcode : kWriteEnableOpcode;
  } else {
    params.wrenOpcode = (d1 & 0x18) == 0x08 ? kVolatileStatusWriteEnableOpcode : kWriteEnableOpcode;
  }
  params.wrsrOpcode = kWriteStatusOpcode;
  params.statusValue = 0;

  if (newer && length > 13 && (readSfdpWord(context, table + 0x34) & 0x8) != 0) {
    params.rdsrOpcode = kFlagStatusOpcode;
    params.busyMask = kStatusBit7;
    params.readyWhenSet = 1;
  } else {
    params.rdsrOpcode = kReadStatusOpcode;
    params.busyMask = kStatusBit0;
    params.readyWhenSet = 0;
  }
  params.readOpcode = kReadOpcode;
  params.programOpcode = kProgramOpcode;

  uint32_t d11 = 0;
  params.pageSize = kDefaultPageSize;
  if (newer && length > 10) {
    d11 = readSfdpWord(context, table + 0x28);
    params.pageSize = static_cast<uint16_t>(1u << (d11 >> 4 & 0xF));
  }

  params.smallEraseOpcode = 0xFF;
  params.largeEraseOpcode = 0xFF;
  params.smallErasePages = 0;
  params.largeErasePages = 0;
  if ((d1 & 3) == 1) {
    params.smallErasePages = static_cast<uint16_t>(4096 / params.pageSize);
    params.smallEraseOpcode = static_cast<uint16_t>(d1 >> 8 & 0xFF);
  }
  const uint32_t entries[] = {d8 & 0xFFFF, d8 >> 16, d9 & 0xFFFF, d9 >> 16};
  for (uint32_t entry : entries) {
    // Only a 64 KiB erase type (size exponent 16) becomes the large erase.
    if ((entry & 0xFF) == 16) {
      params.largeEraseOpcode = static_cast<uint16_t>(entry >> 8);
      params.largeErasePages = static_cast<uint16_t>(65536 / params.pageSize);
    }
  }

  params.statusTimeout = kSfdpStatusTimeout;
  if (newer && length > 10) {
    const uint32_t d10 = readSfdpWord(context, table + 0x24);
    static constexpr uint32_t kUnits[] = {16, 256, 4000, 64000};
    const uint32_t unit = kUnits[d11 >> 29 & 3];
    const uint16_t typical = static_cast<uint16_t>(((d11 >> 24 & 0x1F) + 1) * unit);
    params.statusTimeout = static_cast<uint16_t>((2 * (d10 & 0xF) + 2) *
                                                 ((static_cast<uint32_t>(typical) + 500) / 1000));
  }

  if ((d2 & 0x80000000u) == 0) {
    params.flashSize = (d2 + 1) / 8;
  } else {
    params.flashSize = (1u << (d2 & 0x1F)) / 8;
  }
}

}  // namespace

uint32_t pollEngine(const FlashHwContext& context) {
  uint32_t busyReads = 0;
  while (busyReads < kEnginePollLimit) {
    if ((readReg(context.deviceIndex, reg::kFlashCommand) & reg::kFlashCommandBusy) == 0) break;
    ++busyReads;
  }
  return busyReads;
}

bool waitIdle(const FlashHwContext& context) {
  return pollEngine(context) < kEnginePollLimit;
}

FlashStatus waitReady(const FlashHwContext& context, const FlashParams& params) {
  uint16_t readyStatus = 0;
  return waitReady(context, params, readyStatus);
}

FlashStatus waitReady(const FlashHwContext& context, const FlashParams& params,
                      uint16_t& readyStatus) {
  if (pollEngine(context) == kEnginePollLimit) {
    trace::emit(tp::kWaitReadyEngineTimeout, kEnginePollLimit);
    return FLASH_ENGINE_TIMEOUT;
  }
  uint32_t budget = params.statusTimeout == 0 ? kStatusTimeoutUnit : 0;
  uint16_t units = 0;
  writeReg(context.deviceIndex, reg::kFlashFormat, params.statusFormat);
  for (;;) {
    writeReg(context.deviceIndex, reg::kFlashCommand, params.statusCommand);
    const uint32_t busyReads = pollEngine(context);
    if (busyReads == kEnginePollLimit) {
      trace::emit(tp::kWaitReadyEngineTimeout, kEnginePollLimit);
      return FLASH_ENGINE_TIMEOUT;
    }
    const uint16_t status = lowerHalf(readReg(context.deviceIndex, reg::kFlashData));
    const bool masked = (status & params.busyMask) != 0;
    if (params.readyWhenSet == 0 ? !masked : masked) {
      readyStatus = status;
      return FLASH_OK;
    }
    budget += 4 + busyReads;
    if (budget > kStatusTimeoutUnit) {
      // The unit counter ends the wait when it reaches or passes the timeout, so a timeout of 0
      // allows one status read and the counter never wraps around.
      ++units;
      if (units >= params.statusTimeout) {
        trace::emit(tp::kWaitReadyStatusTimeout, status, params.statusTimeout);
        return FLASH_STATUS_TIMEOUT;
      }
      budget = 0;
    }
  }
}

void openInterface(const FlashHwContext& context, SavedFlashRegisters& saved,
                   uint8_t clockSetting) {
  const uint32_t device = context.deviceIndex;
  writeReg(device, reg::kFlashInterfaceSetup, reg::kFlashInterfaceSetupValue);
  saved.controlWord = lowerHalf(readReg(device, reg::kControlWord));
  saved.format = lowerHalf(readReg(device, reg::kFlashFormat));
  saved.interfaceControl = lowerHalf(readReg(device, reg::kFlashInterfaceControl));
  saved.command = lowerHalf(readReg(device, reg::kFlashCommand));
  writeReg(device, reg::kFlashInterfaceControl, reg::kFlashInterfaceEnable | clockSetting);
  trace::emit(tp::kInterfaceOpened, saved.command, saved.format, saved.interfaceControl,
              saved.controlWord);
}

void closeInterface(const FlashHwContext& context, const SavedFlashRegisters& saved) {
  const uint32_t device = context.deviceIndex;
  // The command register is put back as it was found, but never with its start bit: written
  // back, a start bit read while a word ran would send that word's command once more.
  writeReg(device, reg::kFlashCommand, saved.command & ~reg::kFlashCommandStart);
  writeReg(device, reg::kFlashInterfaceControl, saved.interfaceControl);
  writeReg(device, reg::kFlashFormat, saved.format);
  writeReg(device, reg::kControlWord, saved.controlWord);
  trace::emit(tp::kInterfaceClosed);
}

uint32_t readSfdpWord(const FlashHwContext& context, uint32_t address) {
  const uint32_t device = context.deviceIndex;
  writeReg(device, reg::kFlashFormat, kSfdpFormat);
  writeReg(device, reg::kFlashAddressUpper, address >> 16);
  writeReg(device, reg::kFlashAddress, address & 0xFFFF);
  writeReg(device, reg::kFlashCommand, kSfdpCommand);
  pollEngine(context);  // no failure here: the data register is returned as it stands
  return readDataWord(context);
}

FlashStatus identifyPart(const FlashHwContext& context, FlashPartType& type,
                         uint32_t& identification) {
  const uint32_t device = context.deviceIndex;
  identification = 0;
  const auto engineTimeout = [&type] {
    trace::emit(tp::kIdentifyEngineTimeout);
    type = kFlashPartUnknown;
    return FLASH_ENGINE_TIMEOUT;
  };

  if (!waitIdle(context)) return engineTimeout();
  writeReg(device, reg::kFlashFormat, kShortIdFormat);
  writeReg(device, reg::kFlashCommand, kShortIdCommand);
  if (!waitIdle(context)) return engineTimeout();
  identification = lowerHalf(readReg(device, reg::kFlashData));
  trace::emit(tp::kShortIdentification, identification);
  if (const FlashPart* part = partOfShortAnswer(identification)) {
    type = part->type;
    trace::emit(tp::kIdentified, type);
    return FLASH_OK;
  }

  if (!waitIdle(context)) return engineTimeout();
  writeReg(device, reg::kFlashFormat, kJedecIdFormat);
  writeReg(device, reg::kFlashCommand, kJedecIdCommand);
  if (!waitIdle(context)) return engineTimeout();
  identification = readDataWord(context);
  trace::emit(tp::kJedecIdentification, identification);

  if (const std::optional<FlashPartType> known = identifyJedecWord(identification)) {
    type = *known;
    trace::emit(tp::kIdentified, type);
    return FLASH_OK;
  }
  const uint8_t b0 = static_cast<uint8_t>(identification);
  const uint8_t b1 = static_cast<uint8_t>(identification >> 8);
  const uint8_t b2 = static_cast<uint8_t>(identification >> 16);
  if ((b1 == 0xFF && b2 == 0xFF) || b0 == 0xFF || readSfdpWord(context, 0) != kSfdpSignature) {
    type = kFlashPartUnknown;
    trace::emit(tp::kUnknownPart, identification);
    return FLASH_UNKNOWN_PART;
  }
  type = kFlashPartSfdp;
  trace::emit(tp::kIdentified, type);
  return FLASH_OK;
}

FlashStatus loadParams(const FlashHwContext& context, FlashPartType type, FlashParams& params) {
  params = FlashParams{};
  params.type = type;
  params.wrenOpcode = kWriteEnableOpcode;
  params.wrsrOpcode = kWriteStatusOpcode;
  params.statusValue = 0;
  params.rdsrOpcode = kReadStatusOpcode;
  params.busyMask = kStatusBit0;
  params.readyWhenSet = 0;
  params.readOpcode = kReadOpcode;
  params.programOpcode = kProgramOpcode;
  params.smallEraseOpcode = 0;
  params.largeEraseOpcode = 0;
  params.pageSize = kDefaultPageSize;
  params.smallErasePages = 0;
  params.largeErasePages = 0;
  params.statusTimeout = kDefaultStatusTimeout;
  params.flashSize = 0;

  if (type == kFlashPartSfdp) {
    loadSfdpParams(context, params);
  } else if (const FlashPart* row = parametersOf(type)) {
    params.pageSize = row->pageSize;
    if (row->quirks.readyBitStatus) {
      params.rdsrOpcode = kReadyBitStatusOpcode;
      params.busyMask = kStatusBit7;
      params.readyWhenSet = 1;
    }
    params.smallEraseOpcode = row->smallErase.opcode;
    params.smallErasePages = row->smallErase.pages;
    params.largeEraseOpcode = row->largeErase.opcode;
    params.largeErasePages = row->largeErase.pages;
    params.statusTimeout = row->statusTimeout;
    params.flashSize = row->flashSize;
    params.noWriteEnable = row->quirks.noWriteEnable;
    params.splitFirstUnitPages = row->quirks.splitFirstUnitPages;
  } else {
    trace::emit(tp::kNoParameters, type);
    return FLASH_NO_PARAMETERS;
  }
  buildCommandWords(params);
  return FLASH_OK;
}

}  // namespace hlv
