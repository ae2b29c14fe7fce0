#include "sim/flash_command_engine.h"

#include "device/register_map.h"

namespace hlv::sim {
namespace {

constexpr uint32_t kMaxDataBytes = 4;
constexpr uint32_t kCommandIdentity = reg::kFlashCommandOpcodeMask | reg::kFlashCommandProgram;

}  // namespace

FlashCommandEngine::FlashCommandEngine(SpiFlashPart& part, const AdapterConfig& config,
                                       VirtualClock& clock, AdapterStats& stats)
    : part_(part),
      clock_(clock),
      stats_(stats),
      transferNs_(config.timings.engineTransferNs),
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
}

bool FlashCommandEngine::busy() const {
  return stuck_ || clock_.now() < busyUntil_;
}

uint32_t FlashCommandEngine::read(uint32_t offset) {
  switch (offset) {
    case reg::kFlashCommand: {
      const uint32_t running = busy() ? reg::kFlashCommandBusy | reg::kFlashCommandStart : 0;
      return (command_ & ~(reg::kFlashCommandBusy | reg::kFlashCommandStart)) | running;
    }
    case reg::kFlashAddress:
      return address_;
    case reg::kFlashData:
      if (busy()) stats_.record(Violation::kDataReadWhileEngineBusy);
      return data_;
    case reg::kFlashFormat:
      return format_;
    case reg::kFlashInterfaceControl:
      return interfaceControl_;
    case reg::kFlashInterfaceSetup:
      return interfaceSetup_;
    default:
      return 0;
  }
}

void FlashCommandEngine::write(uint32_t offset, uint32_t value) {
  if (offset == reg::kFlashCommand) {
    if ((value & reg::kFlashCommandStart) == 0) {
      command_ = value;
      return;
    }
    if (busy()) {
      // The engine is still shifting the previous word: this start is lost.
      stats_.record(Violation::kTransferWhileEngineBusy);
      return;
    }
    command_ = value;
    startWord(value);
    return;
  }
  if (busy() &&
      (offset == reg::kFlashAddress || offset == reg::kFlashData || offset == reg::kFlashFormat)) {
    stats_.record(Violation::kRegisterWriteWhileEngineBusy);
  }
  switch (offset) {
    case reg::kFlashAddress:
      address_ = value;
      break;
    case reg::kFlashData:
      data_ = value;
      break;
    case reg::kFlashFormat:
      format_ = value;
      break;
    case reg::kFlashInterfaceControl:
      interfaceControl_ = value;
      break;
    case reg::kFlashInterfaceSetup:
      interfaceSetup_ = value;
      break;
    default:
      break;
  }
}

void FlashCommandEngine::startWord(uint32_t command) {
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
  } else {
    part_.select();
    part_.exchange(static_cast<uint8_t>(command & reg::kFlashCommandOpcodeMask));
    for (uint32_t i = addressBytes; i > 0; --i) {
      part_.exchange(static_cast<uint8_t>(address_ >> (8 * (i - 1))));
    }
    for (uint32_t i = 0; i < dummyBytes; ++i)
      part_.exchange(0x00);
    openCommand_ = command & kCommandIdentity;
  }
  for (uint32_t i = 0; i < dataBytes; ++i) {
    const uint32_t shift = 8 * i;
    if (programming) {
      part_.exchange(static_cast<uint8_t>(data_ >> shift));
    } else {
      const uint8_t in = part_.exchange(0x00);
      data_ = (data_ & ~(0xFFu << shift)) | static_cast<uint32_t>(in) << shift;
    }
  }
  open_ = (command & reg::kFlashCommandKeepOpen) != 0;
  if (!open_) part_.deselect();
  busyUntil_ = clock_.now() + transferNs_;
}

}  // namespace hlv::sim
