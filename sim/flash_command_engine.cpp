#include "sim/flash_command_engine.h"

#include "device/register_map.h"

namespace hlv::sim {
namespace {

constexpr uint32_t kMaxDataBytes = 4;
constexpr uint32_t kCommandIdentity = reg::kFlashCommandOpcodeMask | reg::kFlashCommandProgram;

uint32_t addressMask(uint32_t addressBytes) {
  return addressBytes == 0 ? 0 : 0xFFFFFFFFu >> (32 - 8 * addressBytes);
}

}  // namespace

FlashCommandEngine::FlashCommandEngine(SpiFlashPart& part, const AdapterConfig& config,
                                       VirtualClock& clock, AdapterStats& stats)
    : part_(part),
      clock_(clock),
      stats_(stats),
      transferNs_(config.timings.engineTransferNs),
      jitterNs_(config.timings.engineJitterNs),
      jitter_(config.timings.engineJitterSeed),
      stuck_(config.engineStuck) {}

bool FlashCommandEngine::claims(uint32_t offset) const {
  return offset == reg::kFlashCommand || offset == reg::kFlashAddress ||
         offset == reg::kFlashData || offset == reg::kFlashFormat ||
         offset == reg::kFlashInterfaceControl || offset == reg::kFlashInterfaceSetup;
}

void FlashCommandEngine::powerOn() {
  command_ = 0;
  address_ = 0;
  data_ = 0;
  format_ = 0;
  interfaceControl_ = 0;
  interfaceSetup_ = 0;
  busyUntil_ = 0;
  open_ = false;
  openCommand_ = 0;
  addressWrittenWhileOpen_ = false;
}

bool FlashCommandEngine::interfaceEnabled() const {
  return interfaceSetup_ == reg::kFlashInterfaceSetupValue &&
         (interfaceControl_ & reg::kFlashInterfaceEnable) != 0;
}

uint64_t FlashCommandEngine::wordTime() {
  if (jitterNs_ == 0) return transferNs_;
  return transferNs_ + jitter_.below(jitterNs_ + 1);
}

void FlashCommandEngine::write(uint32_t offset, uint32_t value) {
  if (busy()) {
    if (offset == reg::kFlashCommand && (value & reg::kFlashCommandStart) != 0) {
      // The engine is still shifting the previous word: this start is lost.
      stats_.record(Violation::kTransferWhileEngineBusy);
      return;
    }
    // Any other register of the engine changed under a running word garbles it.
    stats_.record(Violation::kRegisterWriteWhileEngineBusy);
  }
  switch (offset) {
    case reg::kFlashCommand:
      command_ = value;
      if ((value & reg::kFlashCommandStart) != 0) startWord(value);
      break;
    case reg::kFlashAddress:
      address_ = value;
      if (open_) addressWrittenWhileOpen_ = true;
      break;
    case reg::kFlashData:
      data_ = value;
      break;
    case reg::kFlashFormat:
      format_ = value;
      break;
    case reg::kFlashInterfaceControl:
      interfaceControl_ = value;
      interfaceControlWritten();
      break;
    case reg::kFlashInterfaceSetup:
      interfaceSetup_ = value;
      interfaceControlWritten();
      break;
    default:
      break;
  }
}

void FlashCommandEngine::interfaceControlWritten() {
  if (!open_) return;
  // The interface is being closed (or reconfigured) in the middle of a command: chip select
  // was left asserted. Disabling the interface releases it, and the part acts on what it got.
  stats_.record(Violation::kChipSelectHeldAtClose);
  if (!interfaceEnabled()) {
    open_ = false;
    addressWrittenWhileOpen_ = false;
    part_.deselect();
  }
}

void FlashCommandEngine::startWord(uint32_t command) {
  // A word started before the open sequence has set the interface up is counted; it is still
  // carried out, so that whatever else it does wrong is counted too.
  if (!interfaceEnabled()) stats_.record(Violation::kInterfaceNotEnabled);
  ++stats_.transfers;
  const uint32_t addressBytes = format_ & reg::kFlashFormatAddressBytesMask;
  const uint32_t dummyBytes =
      (format_ & reg::kFlashFormatDummyBytesMask) >> reg::kFlashFormatDummyBytesShift;
  uint32_t dataBytes =
      (format_ & reg::kFlashFormatDataBytesMask) >> reg::kFlashFormatDataBytesShift;
  if (dataBytes > kMaxDataBytes) {
    stats_.record(Violation::kFormatMismatch);
    dataBytes = kMaxDataBytes;
  }
  const bool programming = (command & reg::kFlashCommandProgram) != 0;

  if (open_) {
    // A continuing word moves data only; it must carry on the command that was opened.
    if ((command & kCommandIdentity) != openCommand_) {
      stats_.record(Violation::kCommandChangedInOpenTransfer);
    }
    if (addressWrittenWhileOpen_) {
      const uint32_t mask = addressMask(openAddressBytes_);
      if (((address_ ^ (openAddress_ + openMoved_)) & mask) != 0) {
        stats_.record(Violation::kAddressOutOfStep);
      }
      addressWrittenWhileOpen_ = false;
    }
  } else {
    part_.select();
    part_.exchange(static_cast<uint8_t>(command & reg::kFlashCommandOpcodeMask), BytePhase::kOpcode);
    for (uint32_t i = addressBytes; i > 0; --i) {
      part_.exchange(static_cast<uint8_t>(address_ >> (8 * (i - 1))), BytePhase::kAddress);
    }
    for (uint32_t i = 0; i < dummyBytes; ++i)
      part_.exchange(0x00, BytePhase::kDummy);
    openCommand_ = command & kCommandIdentity;
    openAddress_ = address_;
    openAddressBytes_ = addressBytes;
    openMoved_ = 0;
    addressWrittenWhileOpen_ = false;
  }
  if (programming) {
    part_.exchangeData(data_, dataBytes, BytePhase::kDataOut);
  } else if (dataBytes != 0) {
    // The bytes taken from the part replace the low bytes of the data register; the others stay.
    const uint32_t taken = 0xFFFFFFFFu >> (8 * (kMaxDataBytes - dataBytes));
    data_ = (data_ & ~taken) | part_.exchangeData(0, dataBytes, BytePhase::kDataIn);
  }
  openMoved_ += dataBytes;
  open_ = (command & reg::kFlashCommandKeepOpen) != 0;
  if (!open_) part_.deselect();
  busyUntil_ = clock_.now() + wordTime();
}

}  // namespace hlv::sim
