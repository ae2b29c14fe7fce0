#include "flashctl/flash_sequences.h"

#include <algorithm>

#include "device/register_map.h"
#include "flashctl/flash_protocol.h"
#include "flashctl/flash_sequences_trace.h"

namespace hlv {
namespace {

namespace tp = trace_points::flash_sequences;

constexpr uint32_t kEraseFormat = 0x0003;  // three address bytes, no data
constexpr uint8_t kErasedByte = 0xFF;
// A long read tells its observer of every 4 KiB: a whole flash takes seconds.
constexpr uint32_t kReadWordsPerReport = 1024;

void writeAddress(uint32_t device, uint32_t address) {
  writeReg(device, reg::kFlashAddressUpper, address >> 16 & 0xFF);
  writeReg(device, reg::kFlashAddress, address & 0xFFFF);
}

FlashStatus eraseCommand(const FlashHwContext& context, const FlashParams& params, uint16_t opcode,
                         uint32_t address) {
  const uint32_t device = context.deviceIndex;
  writeReg(device, reg::kFlashFormat, kEraseFormat);
  writeAddress(device, address);
  writeReg(device, reg::kFlashCommand, reg::kFlashCommandStart | opcode);
  // Only a part that reported ready has finished the erase: an engine that never went idle is a
  // failure as much as a part that stayed busy.
  const FlashStatus status = waitReady(context, params);
  if (status != FLASH_OK) trace::emit(tp::kEraseFailed, opcode, address, status);
  return status;
}

// Status bits a status write does not set: the part's busy bit, and its write enable latch
// (bit 1 of a standard status register), which the erase needs anyway.
constexpr uint16_t kStatusWriteEnableLatch = 0x02;
constexpr uint16_t kStatusByte = 0xFF;

// Whether a status the part reported ready with differs from what the status write puts there
// (its protection bits set), on a part whose busy poll reads its status register: another
// register tells nothing of them.
bool protectionShown(const FlashParams& params, uint16_t readyStatus) {
  if (params.readyWhenSet != 0) return false;
  const uint16_t compared = kStatusByte & ~(params.busyMask | kStatusWriteEnableLatch);
  return ((readyStatus ^ params.statusValue) & compared) != 0;
}

// Whether the status register already holds what the status write would put there. A status
// write is a non-volatile write of several milliseconds that also wears the register: one status
// read saves it on an unprotected part. Only a part whose status read polls a busy bit reads the
// status register with it (a part that reports ready in bit 7 answers another register), and a
// status that cannot be read tells nothing: both take the status writes.
bool statusAlreadyWritten(const FlashHwContext& context, const FlashParams& params) {
  if (params.readyWhenSet != 0) return false;
  uint16_t status = 0;
  if (waitReady(context, params, status) != FLASH_OK) return false;
  if (!protectionShown(params, status)) {
    trace::emit(tp::kStatusAlreadyClear, status);
    return true;
  }
  trace::emit(tp::kStatusToClear, status);
  return false;
}

// Clears the part's protection bits (write enable, status write of the status value, twice,
// unless the status already reads that value) and leaves the write enable latch set for the
// erase.
FlashStatus unprotectAndEnable(const FlashHwContext& context, const FlashParams& params) {
  const uint32_t device = context.deviceIndex;
  const int rounds = statusAlreadyWritten(context, params) ? 0 : 2;
  for (int round = 0; round < rounds; ++round) {
    if (!waitIdle(context)) return FLASH_ENGINE_TIMEOUT;
    writeReg(device, reg::kFlashFormat, params.writeEnableFormat);
    writeReg(device, reg::kFlashCommand, params.statusWriteEnableCommand);
    // A write enable cannot leave the part busy: the engine having sent it is enough, and a
    // status read here could only find the part ready.
    if (!waitIdle(context)) return FLASH_ENGINE_TIMEOUT;
    writeReg(device, reg::kFlashFormat, params.writeStatusFormat);
    writeReg(device, reg::kFlashAddress, params.statusValue);
    writeReg(device, reg::kFlashCommand, params.writeStatusCommand);
    const FlashStatus status = waitReady(context, params);
    if (status != FLASH_OK) return status;
  }
  if (!waitIdle(context)) return FLASH_ENGINE_TIMEOUT;
  writeReg(device, reg::kFlashFormat, params.writeEnableFormat);
  writeReg(device, reg::kFlashCommand, params.writeEnableCommand);
  return waitIdle(context) ? FLASH_OK : FLASH_ENGINE_TIMEOUT;
}

// One erase command, after the protection bits are cleared and the write enable latch set on a
// part that has them.
FlashStatus eraseUnit(const FlashHwContext& context, const FlashParams& params, uint16_t opcode,
                      uint32_t address) {
  if (!params.noWriteEnable) {
    const FlashStatus unprotected = unprotectAndEnable(context, params);
    if (unprotected != FLASH_OK) {
      trace::emit(tp::kUnprotectFailed, unprotected);
      return unprotected;
    }
  }
  return eraseCommand(context, params, opcode, address);
}

}  // namespace

FlashStatus flashReadSequence(const FlashHwContext& context, const FlashParams& params,
                              uint32_t address, uint32_t length, uint8_t* buffer,
                              uint32_t& bytesRead) {
  const uint32_t device = context.deviceIndex;
  bytesRead = 0;
  if (length == 0) return FLASH_OK;
  const FlashStatus ready = waitReady(context, params);
  if (ready != FLASH_OK) return ready;

  writeReg(device, reg::kFlashFormat, params.readFormat);
  writeReg(device, reg::kFlashAddressUpper, address >> 16);
  writeReg(device, reg::kFlashAddress, address & 0xFFFF);

  const uint32_t words = (length - 1) / 4;
  for (uint32_t i = 0; i < words; ++i) {
    writeReg(device, reg::kFlashCommand, params.readContinueCommand);
    // Data taken while the engine is still shifting would be wrong: a stuck word ends the read.
    if (!waitIdle(context)) {
      trace::emit(tp::kReadWordTimeout, 4 * i, length);
      bytesRead = 4 * i;
      return FLASH_ENGINE_TIMEOUT;
    }
    const uint32_t lower = readReg(device, reg::kFlashData);
    const uint32_t upper = readReg(device, reg::kFlashDataUpper);
    buffer[4 * i] = static_cast<uint8_t>(lower);
    buffer[4 * i + 1] = static_cast<uint8_t>(lower >> 8);
    buffer[4 * i + 2] = static_cast<uint8_t>(upper >> 16);
    buffer[4 * i + 3] = static_cast<uint8_t>(upper >> 24);
    if ((i + 1) % kReadWordsPerReport == 0)
      reportFlashBytes(context.progress, FlashOperation::kRead, 4 * kReadWordsPerReport);
  }
  if (words > 0) {
    bytesRead = 4 * words;
    const uint32_t command = readReg(device, reg::kFlashCommand);
    if ((command & reg::kFlashCommandKeepOpen) != 0) {
      writeReg(device, reg::kFlashCommand, command & ~reg::kFlashCommandKeepOpen);
    }
  } else {
    writeReg(device, reg::kFlashCommand, params.readOpcode);
  }
  const uint32_t lastAddress = address + 4 * words;
  writeReg(device, reg::kFlashAddressUpper, lastAddress >> 16);
  writeReg(device, reg::kFlashAddress, lastAddress & 0xFFFF);
  const uint32_t command = readReg(device, reg::kFlashCommand);
  if ((command & reg::kFlashCommandStart) == 0) {
    writeReg(device, reg::kFlashCommand, command | reg::kFlashCommandStart);
  }
  if (!waitIdle(context)) {
    trace::emit(tp::kReadLastWordTimeout, lastAddress);
    return FLASH_ENGINE_TIMEOUT;
  }
  const uint32_t remaining = length - 4 * words;  // 1 to 4
  const uint32_t lower = readReg(device, reg::kFlashData);
  const uint32_t upper = remaining > 2 ? readReg(device, reg::kFlashDataUpper) : 0;
  const uint8_t last[4] = {static_cast<uint8_t>(lower), static_cast<uint8_t>(lower >> 8),
                           static_cast<uint8_t>(upper >> 16), static_cast<uint8_t>(upper >> 24)};
  std::copy_n(last, remaining, buffer + 4 * words);
  bytesRead = length;
  reportFlashBytes(context.progress, FlashOperation::kRead,
                   4 * (words % kReadWordsPerReport) + remaining);
  return FLASH_OK;
}

FlashStatus flashProgramSequence(const FlashHwContext& context, const FlashParams& params,
                                 uint32_t address, uint32_t length, const uint8_t* buffer,
                                 uint32_t& bytesWritten) {
  const uint32_t device = context.deviceIndex;
  bytesWritten = 0;
  if (length == 0) {
    return waitReady(context, params);
  }
  const uint32_t pageSize = params.pageSize;
  uint32_t done = 0;
  uint32_t offset = address % pageSize;
  const auto halfWord = [buffer](uint32_t at) {
    return static_cast<uint32_t>(buffer[at]) | static_cast<uint32_t>(buffer[at + 1]) << 8;
  };
  for (;;) {
    const uint32_t chunk = std::min(pageSize - offset, length - done);
    if (std::all_of(buffer + done, buffer + done + chunk,
                    [](uint8_t byte) { return byte == kErasedByte; })) {
      // Programming 0xFF changes no bit: the chunk is left as the erase left it.
      done += chunk;
      reportFlashBytes(context.progress, FlashOperation::kProgram, chunk);
      if (done >= length) break;
      offset = 0;
      continue;
    }
    uint16_t readyStatus = 0;
    const FlashStatus ready = waitReady(context, params, readyStatus);
    if (ready != FLASH_OK) {
      trace::emit(tp::kProgramNotReady, ready, address + done);
      return ready;
    }
    if (!params.noWriteEnable && protectionShown(params, readyStatus)) {
      // A protected part ignores a program without a word. An erase, which unprotects it, came
      // first once; a block rewritten in place (its state bits cleared) starts with a program.
      trace::emit(tp::kProgramUnprotects, readyStatus, address + done);
      const FlashStatus unprotected = unprotectAndEnable(context, params);
      if (unprotected != FLASH_OK) {
        trace::emit(tp::kUnprotectFailed, unprotected);
        return unprotected;
      }
    } else if (!params.noWriteEnable) {
      writeReg(device, reg::kFlashFormat, params.writeEnableFormat);
      writeReg(device, reg::kFlashCommand, params.writeEnableCommand);
      if (!waitIdle(context)) {
        trace::emit(tp::kProgramWordTimeout, address + done);
        return FLASH_ENGINE_TIMEOUT;
      }
    }
    writeReg(device, reg::kFlashFormat, params.programFormat);
    writeAddress(device, address + done);
    const uint32_t pageStart = done;

    while (offset + 4 < pageSize && done + 4 < length) {
      writeReg(device, reg::kFlashDataUpper, halfWord(done + 2));
      writeReg(device, reg::kFlashData, halfWord(done));
      writeReg(device, reg::kFlashCommand, params.programContinueCommand);
      // Loading the next word while the engine still shifts this one would corrupt both.
      if (!waitIdle(context)) {
        trace::emit(tp::kProgramWordTimeout, address + done);
        return FLASH_ENGINE_TIMEOUT;
      }
      offset += 4;
      done += 4;
    }

    writeReg(device, reg::kFlashCommand, params.programLastCommand);
    const uint32_t last = std::min(pageSize - offset, length - done);  // 1 to 4
    switch (last) {
      case 1:
        writeReg(device, reg::kFlashData, buffer[done]);
        break;
      case 2:
        writeReg(device, reg::kFlashData, halfWord(done));
        break;
      case 3:
        writeReg(device, reg::kFlashDataUpper, buffer[done + 2]);
        writeReg(device, reg::kFlashData, halfWord(done));
        break;
      default:
        writeReg(device, reg::kFlashDataUpper, halfWord(done + 2));
        writeReg(device, reg::kFlashData, halfWord(done));
        break;
    }
    const uint32_t format = readReg(device, reg::kFlashFormat);
    const uint32_t dataBytes =
        (format & reg::kFlashFormatDataBytesMask) >> reg::kFlashFormatDataBytesShift;
    if (dataBytes != last) {
      writeReg(
          device, reg::kFlashFormat,
          (format & ~reg::kFlashFormatDataBytesMask) | last << reg::kFlashFormatDataBytesShift);
    }
    const uint32_t command = readReg(device, reg::kFlashCommand);
    if ((command & reg::kFlashCommandStart) == 0) {
      writeReg(device, reg::kFlashCommand, command | reg::kFlashCommandStart);
    }
    if (!waitIdle(context)) {
      trace::emit(tp::kProgramWordTimeout, address + done);
      return FLASH_ENGINE_TIMEOUT;
    }
    done += last;
    reportFlashBytes(context.progress, FlashOperation::kProgram, done - pageStart);
    if (done >= length) break;
    offset = 0;
  }
  const FlashStatus status = waitReady(context, params);
  if (status != FLASH_OK) return status;
  bytesWritten = done;
  return FLASH_OK;
}

FlashStatus flashEraseSequence(const FlashHwContext& context, const FlashParams& params,
                               uint16_t opcode, uint32_t address) {
  // A part whose first large unit is split in two takes an erase of each half for the unit at 0.
  if (params.splitFirstUnitPages != 0 && opcode == params.largeEraseOpcode && address == 0) {
    const FlashStatus first = eraseUnit(context, params, opcode, 0);
    if (first != FLASH_OK) return first;
    const uint32_t secondHalf = params.splitFirstUnitPages * uint32_t{params.pageSize};
    trace::emit(tp::kSplitUnitErase, opcode, secondHalf);
    return eraseUnit(context, params, opcode, secondHalf);
  }
  return eraseUnit(context, params, opcode, address);
}

}  // namespace hlv
