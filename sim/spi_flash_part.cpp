#include "sim/spi_flash_part.h"

#include <algorithm>
#include <cstdint>

#include "platform/hlv_assert.h"
#include "sim/seeded_random.h"
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
constexpr uint8_t kOpReadFlagStatus = 0x70;
constexpr uint8_t kOpJedecId = 0x9F;

constexpr uint8_t kStatusBusy = 0x01;
constexpr uint8_t kStatusWriteEnable = 0x02;
constexpr uint8_t kStatusLockBits = 0x1C;  // block protection: any set locks the array here
constexpr uint8_t kStatusWritableBits = 0xFC;

constexpr uint8_t kReadyBitReady = 0x80;
constexpr uint8_t kReadyBitLocked = 0x02;
constexpr uint8_t kReadyBitBinaryPages = 0x01;
constexpr uint8_t kFlagStatusReady = 0x80;

constexpr uint32_t kAddressBytes = 3;

// A byte a program cut short was changing from `old` toward `target`: programmed, left as it
// was, or with only some of the bits it was clearing cleared.
uint8_t tornProgramByte(uint8_t old, uint8_t target, SeededRandom& random) {
  switch (random.below(3)) {
    case 0:
      return target;
    case 1:
      return old;
    default: {
      const uint8_t clearing = static_cast<uint8_t>(old & ~target);
      return static_cast<uint8_t>(old & ~(clearing & random.next()));
    }
  }
}

// An erase cut short: a leading run of the unit erased (none half the time), the rest as it
// was or garbled: each byte erased or kept at random, or, at bit level, each bit.
void tearErase(std::span<uint8_t> unit, SeededRandom& random, TornErase level) {
  const uint64_t erased = random.below(2) == 0 ? 0 : random.below(unit.size() + 1);
  std::fill_n(unit.begin(), erased, 0xFF);
  if (random.below(2) == 0) return;
  for (std::size_t i = erased; i < unit.size(); ++i) {
    if (level == TornErase::kBits) {
      unit[i] |= static_cast<uint8_t>(random.next());
    } else if (random.below(2) == 0) {
      unit[i] = 0xFF;
    }
  }
}

// The lowest set bit of a byte (0 when none is).
uint8_t lowestBit(uint8_t bits) {
  return static_cast<uint8_t>(bits & -bits);
}

}  // namespace

SpiFlashPart::SpiFlashPart(FlashPartModel model, const AdapterConfig& config, VirtualClock& clock,
                           std::span<uint8_t> storage, AdapterStats& stats)
    : model_(std::move(model)),
      timings_(config.timings),
      tornErase_(config.tornErase),
      flashFaultAt_(config.flashFaultAt),
      flashFault_(config.flashFault),
      clock_(clock),
      storage_(storage),
      stats_(stats),
      stuck_(config.partStuck),
      nonVolatileProtection_(config.protectedAtPowerOn ? kStatusLockBits : 0) {
  HLV_ASSERT(storage_.size() == model_.capacity);
  if (model_.sfdp) sfdpArea_ = buildSfdpArea(model_);
  for (uint32_t opcode = 0; opcode < commandOf_.size(); ++opcode)
    commandOf_[opcode] = decode(static_cast<uint8_t>(opcode));
  pageBuffer_.assign(model_.pageSize, 0xFF);
  powerOn();
}

void SpiFlashPart::powerOn() {
  selected_ = false;
  command_ = Command::kIgnored;
  opcodeReceived_ = false;
  busyUntil_ = 0;
  writeEnable_ = false;
  statusWriteUnlocked_ = false;
  protectionBits_ = nonVolatileProtection_;
}

bool SpiFlashPart::busy() const {
  return stuck_ || clock_.now() < busyUntil_;
}

bool SpiFlashPart::locked() const {
  return (protectionBits_ & kStatusLockBits) != 0;
}

bool SpiFlashPart::lockedAtPowerOn() const {
  return (nonVolatileProtection_ & kStatusLockBits) != 0;
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
  if (opcode == kOpReadFlagStatus && model_.flagStatusRegister) return Command::kReadFlagStatus;
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

SpiFlashPart::Frame SpiFlashPart::frameOf(Command command) {
  using enum DataPhase;
  switch (command) {
    case Command::kRead:
      return {kAddressBytes, 0, kIn};
    case Command::kFastRead:
    case Command::kSfdp:
      return {kAddressBytes, 1, kIn};
    case Command::kProgram:
      return {kAddressBytes, 0, kOut};
    case Command::kErase:
      return {kAddressBytes, 0, kNone};
    case Command::kWriteStatus:
      // The new status is the one byte after the opcode, which the engine sends from its address
      // register; a data phase (whichever way) is not how this part's status is written.
      return {1, 0, kNone};
    case Command::kReadStatus:
    case Command::kReadFlagStatus:
    case Command::kJedecId:
    case Command::kShortId:
      return {0, 0, kIn};
    case Command::kWriteEnable:
    case Command::kWriteDisable:
    case Command::kStatusWriteEnable:
    case Command::kIgnored:
      break;
  }
  return {0, 0, kNone};
}

bool SpiFlashPart::identificationProbe(uint8_t opcode) {
  return opcode == kOpShortId || opcode == kOpJedecId || opcode == kOpSfdp;
}

void SpiFlashPart::select() {
  selected_ = true;
  command_ = Command::kIgnored;
  frame_ = frameOf(command_);
  opcode_ = 0;
  opcodeReceived_ = false;
  broken_ = false;
  addressReceived_ = 0;
  dummyReceived_ = 0;
  dataReceived_ = 0;
  beyondEndCounted_ = false;
  address_ = 0;
  dataBytes_ = 0;
  crossedPage_ = false;
}

void SpiFlashPart::takeOpcode(uint8_t opcode) {
  ++stats_.commands;
  opcodeReceived_ = true;
  opcode_ = opcode;
  command_ = commandOf_[opcode];
  if (command_ == Command::kIgnored) {
    // A part that does not know an identification opcode leaves the line high, which is how
    // the probe finds out; any other unknown opcode is a command that goes nowhere.
    if (!identificationProbe(opcode)) stats_.record(Violation::kUnknownOpcode);
    return;
  }
  if (busy() && command_ != Command::kReadStatus && command_ != Command::kReadFlagStatus) {
    // A busy part answers nothing but its status.
    stats_.record(Violation::kCommandWhilePartBusy);
    command_ = Command::kIgnored;
    return;
  }
  frame_ = frameOf(command_);
  // The page buffer starts erased for every program command; bytes not sent leave cells as
  // they are.
  if (command_ == Command::kProgram) std::fill(pageBuffer_.begin(), pageBuffer_.end(), 0xFF);
}

bool SpiFlashPart::framedAsExpected(BytePhase phase) const {
  const Frame& frame = frame_;
  switch (phase) {
    case BytePhase::kOpcode:
      return false;
    case BytePhase::kAddress:
      return dummyReceived_ == 0 && dataReceived_ == 0 && addressReceived_ < frame.addressBytes;
    case BytePhase::kDummy:
      return addressReceived_ == frame.addressBytes && dataReceived_ == 0 &&
             dummyReceived_ < frame.dummyBytes;
    case BytePhase::kDataOut:
    case BytePhase::kDataIn:
      return addressReceived_ == frame.addressBytes && dummyReceived_ == frame.dummyBytes &&
             frame.data == (phase == BytePhase::kDataOut ? DataPhase::kOut : DataPhase::kIn);
  }
  return false;
}

bool SpiFlashPart::frameComplete() const {
  const Frame& frame = frame_;
  return addressReceived_ == frame.addressBytes && dummyReceived_ == frame.dummyBytes &&
         (frame.data == DataPhase::kNone || dataReceived_ > 0);
}

void SpiFlashPart::framingBroken() {
  if (!broken_) stats_.record(Violation::kFormatMismatch);
  broken_ = true;
}

uint8_t SpiFlashPart::readArrayByte(uint32_t index) {
  ++stats_.bytesRead;
  const uint64_t at = static_cast<uint64_t>(address_) + index;
  if (at >= model_.capacity && !beyondEndCounted_) {
    // The part wraps to its start, which a read of the whole array never needs.
    stats_.record(Violation::kAddressBeyondCapacity);
    beyondEndCounted_ = true;
  }
  return storage_[at < model_.capacity ? at : at % model_.capacity];
}

uint8_t SpiFlashPart::exchange(uint8_t mosi, BytePhase phase) {
  if (!selected_) return 0xFF;
  if (!opcodeReceived_) {
    if (phase != BytePhase::kOpcode) return 0xFF;
    takeOpcode(mosi);
    if (commandHook_) commandHook_();
    return 0xFF;
  }
  if (command_ == Command::kIgnored || broken_) return 0xFF;
  if (!framedAsExpected(phase)) {
    framingBroken();
    return 0xFF;
  }
  switch (phase) {
    case BytePhase::kOpcode:
      return 0xFF;
    case BytePhase::kAddress:
      ++addressReceived_;
      address_ = address_ << 8 | mosi;
      if (addressReceived_ == kAddressBytes && command_ != Command::kSfdp &&
          address_ >= model_.capacity) {
        stats_.record(Violation::kAddressBeyondCapacity);
        beyondEndCounted_ = true;
      }
      if (command_ == Command::kWriteStatus) newStatus_ = mosi;
      return 0xFF;
    case BytePhase::kDummy:
      ++dummyReceived_;
      return 0xFF;
    case BytePhase::kDataOut:
    case BytePhase::kDataIn:
      break;
  }
  return dataByte(mosi);
}

uint8_t SpiFlashPart::dataByte(uint8_t mosi) {
  const uint32_t index = dataReceived_++;
  switch (command_) {
    case Command::kRead:
    case Command::kFastRead:
      return readArrayByte(index);
    case Command::kSfdp: {
      const uint64_t at = static_cast<uint64_t>(address_) + index;
      return at < sfdpArea_.size() ? sfdpArea_[at] : 0xFF;
    }
    case Command::kProgram: {
      if (index == 0) pageOffset_ = address_ % model_.pageSize;
      uint32_t offset = pageOffset_ + index;
      if (offset >= model_.pageSize) {
        crossedPage_ = true;
        offset %= model_.pageSize;
      }
      pageBuffer_[offset] = mosi;
      ++dataBytes_;
      return 0xFF;
    }
    case Command::kReadStatus:
      return statusByte();
    case Command::kReadFlagStatus:
      return busy() ? 0 : kFlagStatusReady;
    case Command::kJedecId:
      return index < model_.idBytes.size() ? model_.idBytes[index] : 0x00;
    case Command::kShortId:
      return index < model_.idBytes.size() ? model_.idBytes[index] : 0xFF;
    case Command::kWriteStatus:
    case Command::kErase:
    case Command::kWriteEnable:
    case Command::kWriteDisable:
    case Command::kStatusWriteEnable:
    case Command::kIgnored:
      return 0xFF;
  }
  return 0xFF;
}

uint32_t SpiFlashPart::exchangeData(uint32_t mosi, uint32_t count, BytePhase phase) {
  // Whether a data byte is taken depends on nothing a data byte changes: when the first is
  // framed as the command takes it, so are the others, and each goes straight to the command.
  const bool taken = selected_ && opcodeReceived_ && command_ != Command::kIgnored && !broken_ &&
                     framedAsExpected(phase);
  uint32_t miso = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t shift = 8 * i;
    const uint8_t out = static_cast<uint8_t>(mosi >> shift);
    miso |= static_cast<uint32_t>(taken ? dataByte(out) : exchange(out, phase)) << shift;
  }
  return miso;
}

void SpiFlashPart::deselect() {
  if (!selected_) return;
  selected_ = false;
  if (!opcodeReceived_ || command_ == Command::kIgnored) return;
  if (!broken_ && !frameComplete()) framingBroken();
  if (broken_) return;  // a command that is not whole does nothing
  switch (command_) {
    case Command::kWriteEnable:
    case Command::kWriteDisable:
      // The latch changes only when chip select rises right after the opcode.
      writeEnable_ = command_ == Command::kWriteEnable;
      break;
    case Command::kStatusWriteEnable:
      statusWriteUnlocked_ = true;
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
    case Command::kRead:
    case Command::kFastRead:
    case Command::kSfdp:
    case Command::kReadStatus:
    case Command::kReadFlagStatus:
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

std::optional<uint64_t> SpiFlashPart::tearingSeed() {
  if (!modifyingHook_) return std::nullopt;
  const std::optional<uint64_t> seed = modifyingHook_(opcode_, address_ % model_.capacity);
  // The command's number varies the tear from one cut point to the next under one seed.
  if (seed) return *seed ^ (stats_.modifyingTransfers * 0xD1B54A32D192ED03ull);
  return std::nullopt;
}

bool SpiFlashPart::faultStrikes() {
  if (flashFaultAt_ == 0 || stats_.modifyingTransfers != flashFaultAt_) return false;
  stats_.flashFaultStruck = true;
  return true;
}

// The page programmed, but the first byte the program changes keeps the lowest bit it was to
// clear.
void SpiFlashPart::keepOneBitOfProgram(uint8_t* page) {
  bool kept = false;
  for (uint32_t i = 0; i < model_.pageSize; ++i) {
    const uint8_t clearing = static_cast<uint8_t>(page[i] & ~pageBuffer_[i]);
    page[i] &= pageBuffer_[i];
    if (clearing != 0 && !kept) {
      page[i] |= lowestBit(clearing);
      kept = true;
    }
  }
}

// The first byte of the unit that was not erased keeps its lowest programmed bit.
void SpiFlashPart::keepOneBitOfErase(std::span<uint8_t> unit, std::span<const uint8_t> before) {
  for (std::size_t i = 0; i < unit.size(); ++i) {
    const uint8_t programmed = static_cast<uint8_t>(~before[i]);
    if (programmed != 0) {
      unit[i] = static_cast<uint8_t>(0xFF & ~lowestBit(programmed));
      return;
    }
  }
}

void SpiFlashPart::startBusy(uint64_t nanoseconds) {
  busyUntil_ = clock_.now() + nanoseconds;
}

void SpiFlashPart::finishWriteStatus() {
  if (!writeEnable_ && !statusWriteUnlocked_) {
    stats_.record(Violation::kNoWriteEnable);
    return;
  }
  const uint8_t bits = newStatus_ & kStatusWritableBits;
  protectionBits_ = bits;
  if (statusWriteUnlocked_) {
    // The volatile copy only: it is in force until the next power-on, and takes no time.
    statusWriteUnlocked_ = false;
    return;
  }
  writeEnable_ = false;
  nonVolatileProtection_ = bits;
  startBusy(timings_.writeStatusNs.value_or(model_.writeStatusNs));
}

void SpiFlashPart::finishProgram() {
  ++stats_.modifyingTransfers;
  const std::optional<uint64_t> tear = tearingSeed();
  const bool fault = faultStrikes() && !tear;
  if (mayModify()) {
    if (fault && flashFault_ == FlashFault::kIgnored) return;
    // A real part keeps only the page's buffer: data past the page end wrapped to its start.
    if (crossedPage_) stats_.record(Violation::kPageCrossing);
    const uint32_t pageStart = address_ % model_.capacity / model_.pageSize * model_.pageSize;
    uint8_t* const page = storage_.data() + pageStart;
    if (tear) {
      SeededRandom random(*tear);
      for (uint32_t i = 0; i < model_.pageSize; ++i) {
        const uint8_t target = page[i] & pageBuffer_[i];
        if (target != page[i]) page[i] = tornProgramByte(page[i], target, random);
      }
    } else if (fault && flashFault_ == FlashFault::kWrongBit) {
      keepOneBitOfProgram(page);
    } else {
      for (uint32_t i = 0; i < model_.pageSize; ++i)
        page[i] &= pageBuffer_[i];
    }
    stats_.bytesProgrammed += dataBytes_;
    startBusy(timings_.pageProgramNs);
    if (fault && flashFault_ == FlashFault::kStuck) stuck_ = true;
  }
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
  // Chip select rose right after the third address byte (the framing saw to that).
  ++stats_.modifyingTransfers;
  const std::optional<uint64_t> tear = tearingSeed();
  const bool fault = faultStrikes() && !tear;
  const EraseCommand& erase = *model_.eraseFor(opcode_);
  if (mayModify()) {
    if (fault && flashFault_ == FlashFault::kIgnored) return;
    const uint32_t address = address_ % model_.capacity;
    uint32_t start = address - address % erase.size;
    uint32_t size = erase.size;
    uint32_t largest = 0;
    for (const EraseCommand& e : model_.erases)
      largest = std::max(largest, e.size);
    if (model_.firstUnitSplit != 0 && erase.size == largest && address < erase.size) {
      const uint32_t split = model_.firstUnitSplit;
      start = address < split ? 0 : split;
      size = address < split ? split : erase.size - split;
    }
    if (address != start) stats_.record(Violation::kUnalignedErase);
    const std::span<uint8_t> unit = storage_.subspan(start, size);
    if (tear) {
      SeededRandom random(*tear);
      tearErase(unit, random, tornErase_);
    } else if (fault && flashFault_ == FlashFault::kWrongBit) {
      const std::vector<uint8_t> before(unit.begin(), unit.end());
      std::fill(unit.begin(), unit.end(), 0xFF);
      keepOneBitOfErase(unit, before);
    } else {
      std::fill(unit.begin(), unit.end(), 0xFF);
    }
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
    if (fault && flashFault_ == FlashFault::kStuck) stuck_ = true;
  }
}

}  // namespace hlv::sim
