#include "sim/spi_flash_part.h"

#include <algorithm>
#include <cstdint>

#include "platform/hlv_assert.h"
#include "sim/sfdp_table.h"

namespace hlv::sim {
namespace {

constexpr uint8_t kOpWriteStatus = 0x01;
constexpr uint8_t kOpProgram = 0x02;
constexpr uint8_t kOpRead = 0x03;
constexpr uint8_t kOpWriteDisable = 0x04;
constexpr uint8_t kOpWriteEnable = 0x06;
constexpr uint8_t kOpFastRead = 0x0B;
constexpr uint8_t kOpShortId = 0x15;
constexpr uint8_t kOpStatusWriteEnable = 0x50;
constexpr uint8_t kOpSfdp = 0x5A;
constexpr uint8_t kOpJedecId = 0x9F;

constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusWriteEnable = 0x02;
constexpr uint8_t kStatusLockBits = 0x1C;  // block protection: any set locks the array here
constexpr uint8_t kStatusWritableBits = 0xFC;

constexpr uint8_t kReadyBitReady = 0x80;
constexpr uint8_t kReadyBitLocked = 0x02;
constexpr uint8_t kReadyBitBinaryPages = 0x01;

constexpr uint32_t kAddressBytes = 3;
// received_ before the opcode has arrived.
constexpr uint32_t kNoOpcodeYet = UINT32_MAX;
constexpr uint32_t kFirstUnitSplitPages = 8;

}  // namespace

SpiFlashPart::SpiFlashPart(FlashPartModel model, const AdapterConfig& config, VirtualClock& clock,
                           std::span<uint8_t> storage, AdapterStats& stats)
    : model_(std::move(model)),
      protectedAtPowerOn_(config.protectedAtPowerOn),
      timings_(config.timings),
      clock_(clock),
      storage_(storage),
      stats_(stats),
      stuck_(config.partStuck) {
  HLV_ASSERT(storage_.size() == model_.capacity, "storage.size() == capacity");
  if (model_.sfdp) sfdpArea_ = buildSfdpArea(model_);
  pageBuffer_.assign(model_.pageSize, 0xFF);
  powerOn();
}

void SpiFlashPart::powerOn() {
  selected_ = false;
  command_ = Command::kIgnored;
  received_ = 0;
  busyUntil_ = 0;
  writeEnable_ = false;
  statusWriteUnlocked_ = false;
  protectionBits_ = protectedAtPowerOn_ ? kStatusLockBits : 0;
}

bool SpiFlashPart::busy() const {
  return stuck_ || clock_.now() < busyUntil_;
}

bool SpiFlashPart::locked() const {
  return (protectionBits_ & kStatusLockBits) != 0;
}

uint8_t SpiFlashPart::statusByte() const {
  if (model_.status == StatusStyle::kReadyBit) {
    return static_cast<uint8_t>((busy() ? 0 : kReadyBitReady) | (locked() ? kReadyBitLocked : 0) |
                                kReadyBitBinaryPages);
  }
  return static_cast<uint8_t>((protectionBits_ & kStatusWritableBits) |
                              (writeEnable_ ? kStatusWriteEnable : 0) | (busy() ? kStatusBusy : 0));
}

SpiFlashPart::Command SpiFlashPart::decode(uint8_t opcode) const {
  if (opcode == model_.statusOpcode()) return Command::kReadStatus;
  if (model_.shortId) {
    if (opcode == kOpShortId) return Command::kShortId;
  } else if (opcode == kOpJedecId) {
    return Command::kJedecId;
  }
  switch (opcode) {
    case kOpRead:
      return Command::kRead;
    case kOpFastRead:
      return Command::kFastRead;
    case kOpProgram:
      return Command::kProgram;
    case kOpSfdp:
      return model_.sfdp ? Command::kSfdp : Command::kIgnored;
    default:
      break;
  }
  if (model_.usesWriteEnable()) {
    if (opcode == kOpWriteEnable) return Command::kWriteEnable;
    if (opcode == kOpWriteDisable) return Command::kWriteDisable;
    if (opcode == kOpWriteStatus) return Command::kWriteStatus;
    if (opcode == kOpStatusWriteEnable && model_.volatileStatusWriteEnable) {
      return Command::kStatusWriteEnable;
    }
  }
  if (model_.eraseFor(opcode) != nullptr) return Command::kErase;
  return Command::kIgnored;
}

void SpiFlashPart::select() {
  selected_ = true;
  command_ = Command::kIgnored;
  opcode_ = 0;
  address_ = 0;
  dataBytes_ = 0;
  crossedPage_ = false;
  std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
  received_ = kNoOpcodeYet;
}

uint8_t SpiFlashPart::readArrayByte(uint32_t index) {
  ++stats_.bytesRead;
  return storage_[(address_ + index) % model_.capacity];
}

uint8_t SpiFlashPart::exchange(uint8_t mosi) {
  if (!selected_) return 0xFF;
  if (received_ == kNoOpcodeYet) {
    received_ = 0;
    opcode_ = mosi;
    command_ = decode(mosi);
    if (busy() && command_ != Command::kReadStatus) {
      // A busy part answers nothing but its status.
      stats_.record(Violation::kCommandWhilePartBusy);
      command_ = Command::kIgnored;
    }
    return 0xFF;
  }
  const uint32_t position = received_++;
  const bool addressed = command_ == Command::kRead || command_ == Command::kFastRead ||
                         command_ == Command::kProgram || command_ == Command::kErase ||
                         command_ == Command::kSfdp;
  if (addressed && position < kAddressBytes) {
    address_ = address_ << 8 | mosi;
    if (position + 1 == kAddressBytes && command_ != Command::kSfdp &&
        address_ >= model_.capacity) {
      stats_.record(Violation::kAddressBeyondCapacity);
    }
    return 0xFF;
  }
  switch (command_) {
    case Command::kRead:
      return readArrayByte(position - kAddressBytes);
    case Command::kFastRead:
      if (position == kAddressBytes) return 0xFF;  // dummy byte
      return readArrayByte(position - kAddressBytes - 1);
    case Command::kSfdp: {
      if (position == kAddressBytes) return 0xFF;  // dummy byte
      const uint64_t index = static_cast<uint64_t>(address_) + (position - kAddressBytes - 1);
      return index < sfdpArea_.size() ? sfdpArea_[index] : 0xFF;
    }
    case Command::kProgram: {
      const uint32_t offset = address_ % model_.pageSize + (position - kAddressBytes);
      if (offset >= model_.pageSize) crossedPage_ = true;
      pageBuffer_[offset % model_.pageSize] = mosi;
      ++dataBytes_;
      return 0xFF;
    }
    case Command::kReadStatus:
      return statusByte();
    case Command::kWriteStatus:
      if (position == 0) newStatus_ = mosi;
      return 0xFF;
    case Command::kJedecId:
      return position < model_.idBytes.size() ? model_.idBytes[position] : 0x00;
    case Command::kShortId:
      return position < model_.idBytes.size() ? model_.idBytes[position] : 0xFF;
    case Command::kErase:
    case Command::kWriteEnable:
    case Command::kWriteDisable:
    case Command::kStatusWriteEnable:
    case Command::kIgnored:
      return 0xFF;
  }
  return 0xFF;
}

void SpiFlashPart::deselect() {
  if (!selected_) return;
  selected_ = false;
  if (received_ == kNoOpcodeYet) return;  // no byte at all
  switch (command_) {
    case Command::kRead:
      if (received_ < kAddressBytes) stats_.record(Violation::kFormatMismatch);
      break;
    case Command::kFastRead:
    case Command::kSfdp:
      if (received_ < kAddressBytes + 1) stats_.record(Violation::kFormatMismatch);
      break;
    case Command::kWriteEnable:
    case Command::kWriteDisable:
      // The latch changes only when chip select rises right after the opcode.
      if (received_ != 0) {
        stats_.record(Violation::kFormatMismatch);
      } else {
        writeEnable_ = command_ == Command::kWriteEnable;
      }
      break;
    case Command::kStatusWriteEnable:
      if (received_ != 0) {
        stats_.record(Violation::kFormatMismatch);
      } else {
        statusWriteUnlocked_ = true;
      }
      break;
    case Command::kWriteStatus:
      finishWriteStatus();
      break;
    case Command::kProgram:
      finishProgram();
      break;
    case Command::kErase:
      finishErase();
      break;
    case Command::kReadStatus:
    case Command::kJedecId:
    case Command::kShortId:
    case Command::kIgnored:
      break;
  }
}

bool SpiFlashPart::mayModify() {
  if (model_.usesWriteEnable() && !writeEnable_) {
    stats_.record(Violation::kNoWriteEnable);
    return false;
  }
  writeEnable_ = false;
  if (locked()) {
    // A locked part ignores the command without telling.
    stats_.record(Violation::kWriteProtected);
    return false;
  }
  return true;
}

void SpiFlashPart::startBusy(uint64_t nanoseconds) {
  busyUntil_ = clock_.now() + nanoseconds;
}

void SpiFlashPart::finishWriteStatus() {
  if (received_ < 1 || received_ > 2) {
    stats_.record(Violation::kFormatMismatch);
    return;
  }
  if (!writeEnable_ && !statusWriteUnlocked_) {
    stats_.record(Violation::kNoWriteEnable);
    return;
  }
  writeEnable_ = false;
  statusWriteUnlocked_ = false;
  protectionBits_ = newStatus_ & kStatusWritableBits;
  startBusy(timings_.writeStatusNs);
}

void SpiFlashPart::finishProgram() {
  if (received_ <= kAddressBytes) {
    stats_.record(Violation::kFormatMismatch);
  } else {
    ++stats_.modifyingTransfers;
    if (mayModify()) {
      // A real part keeps only the page's buffer: data past the page end wrapped to its start.
      if (crossedPage_) stats_.record(Violation::kPageCrossing);
      const uint32_t pageStart = address_ % model_.capacity / model_.pageSize * model_.pageSize;
      for (uint32_t i = 0; i < model_.pageSize; ++i)
        storage_[pageStart + i] &= pageBuffer_[i];
      stats_.bytesProgrammed += dataBytes_;
      startBusy(timings_.pageProgramNs);
    }
  }
  if (received_ > kAddressBytes && modifyingHook_) modifyingHook_();
}

uint64_t SpiFlashPart::eraseTime(uint32_t size) const {
  constexpr uint32_t kSector = 4096;
  constexpr uint32_t kBlock = 65536;
  if (size <= kSector) return timings_.sectorEraseNs * size / kSector;
  if (size <= kBlock) {
    return timings_.sectorEraseNs +
           (timings_.blockEraseNs - timings_.sectorEraseNs) * (size - kSector) / (kBlock - kSector);
  }
  return timings_.blockEraseNs * (size / kBlock);
}

void SpiFlashPart::finishErase() {
  if (received_ != kAddressBytes) {
    // The part erases only when chip select rises right after the third address byte.
    stats_.record(Violation::kFormatMismatch);
    return;
  }
  ++stats_.modifyingTransfers;
  const EraseCommand& erase = *model_.eraseFor(opcode_);
  if (mayModify()) {
    const uint32_t address = address_ % model_.capacity;
    uint32_t start = address - address % erase.size;
    uint32_t size = erase.size;
    uint32_t largest = 0;
    for (const EraseCommand& e : model_.erases)
      largest = std::max(largest, e.size);
    if (model_.splitFirstLargeUnit && erase.size == largest && address < erase.size) {
      const uint32_t split = kFirstUnitSplitPages * model_.pageSize;
      start = address < split ? 0 : split;
      size = address < split ? split : erase.size - split;
    }
    if (address != start) stats_.record(Violation::kUnalignedErase);
    std::fill_n(storage_.begin() + start, size, 0xFF);
    switch (erase.size) {
      case 4096:
        ++stats_.erases4k;
        break;
      case 32768:
        ++stats_.erases32k;
        break;
      case 65536:
        ++stats_.erases64k;
        break;
      default:
        ++stats_.erasesOther;
        break;
    }
    startBusy(eraseTime(size));
  }
  if (modifyingHook_) modifyingHook_();
}

}  // namespace hlv::sim
