#include "bench/stream_analysis.h"

#include "device/register_map.h"

namespace hlv::bench {
namespace {

constexpr uint32_t kStatusFormat = 0x0100;
constexpr uint32_t kWriteEnableFormat = 0x0000;
constexpr uint32_t kWriteStatusFormat = 0x0001;
constexpr uint32_t kEraseFormat = 0x0003;
// Read and program words: three address bytes, no dummy byte, 1 to 4 data bytes.
constexpr uint32_t kWordAddressing = 0x0003;
constexpr uint32_t kAddressingMask =
    reg::kFlashFormatAddressBytesMask | reg::kFlashFormatDummyBytesMask;

}  // namespace

void StreamAnalysis::attribute() {
  ++counts_.accesses;
  if (last_ == TransferKind::kReadWord) ++counts_.readWordAccesses;
  if (last_ == TransferKind::kProgramWord) ++counts_.programWordAccesses;
}

void StreamAnalysis::read(uint32_t /*offset*/) {
  attribute();
}

void StreamAnalysis::write(uint32_t offset, uint32_t value) {
  attribute();
  if (offset == reg::kFlashFormat) {
    format_ = value & 0xFFFF;
  } else if (offset == reg::kFlashData) {
    lastData_ = value;
  } else if (offset == reg::kFlashCommand && (value & reg::kFlashCommandStart) != 0) {
    started(value);
  }
}

void StreamAnalysis::started(uint32_t command) {
  TransferKind kind = TransferKind::kNone;
  if (format_ == kStatusFormat) {
    kind = TransferKind::kStatusRead;
  } else if (format_ == kWriteEnableFormat) {
    kind = TransferKind::kWriteEnable;
  } else if (format_ == kWriteStatusFormat) {
    kind = TransferKind::kWriteStatus;
  } else if (format_ == kEraseFormat) {
    kind = TransferKind::kErase;
  } else if ((format_ & kAddressingMask) == kWordAddressing) {
    kind = (command & reg::kFlashCommandProgram) != 0 ? TransferKind::kProgramWord
                                                      : TransferKind::kReadWord;
  }
  last_ = kind;
  switch (kind) {
    case TransferKind::kStatusRead:
      switch (lastBusy_) {
        case TransferKind::kErase:
          ++counts_.pollsAfterErase;
          break;
        case TransferKind::kProgramWord:
          ++counts_.pollsAfterProgram;
          break;
        case TransferKind::kWriteStatus:
          ++counts_.pollsAfterStatusWrite;
          break;
        default:
          ++counts_.needlessPolls;
          break;
      }
      return;
    case TransferKind::kErase:
      ++counts_.erases;
      break;
    case TransferKind::kWriteStatus:
      ++counts_.statusWrites;
      break;
    case TransferKind::kProgramWord: {
      // A word carries as many bytes as the format says; bytes beyond them mean nothing.
      const uint32_t bytes = (format_ & reg::kFlashFormatDataBytesMask) >>
                             reg::kFlashFormatDataBytesShift;
      for (uint32_t i = 0; i < bytes && i < 4; ++i) {
        if ((lastData_ >> (8 * i) & 0xFF) != 0xFF) chunkHasData_ = true;
      }
      if ((command & reg::kFlashCommandKeepOpen) == 0) {
        ++counts_.pagePrograms;
        if (chunkHasData_) ++counts_.pageProgramsWithData;
        chunkHasData_ = false;
      }
      break;
    }
    default:
      break;
  }
  lastBusy_ = kind;
}

}  // namespace hlv::bench
