#include "sim/chip_fuses.h"

#include <string_view>

#include "device/register_map.h"

namespace hlv::sim {
namespace {

// The edges that open the fuse read port, one character per rising clock edge: '0' no line,
// 'M' mode-select, 'D' data-in, 'B' both. The state machine is walked to the instruction
// register, the 32-bit instruction 0xFFE7FC7A is shifted in least significant bit first (its
// last bit with mode-select, which leaves the shift state), and the machine is walked back.
constexpr std::string_view kOpeningEdges =
    "MMMMM0MM00"  // to the instruction register
    "0D0DDDD0"
    "00DDDDDD"
    "DDD00DDD"
    "DDDDDDDB"  // 0x7A, 0xFC, 0xE7, 0xFF
    "MM00BM0";  // back to idle

constexpr uint32_t kLines = reg::kTestPortModeSelect | reg::kTestPortDataIn;

char edgeOf(uint32_t lines) {
  const bool mode = (lines & reg::kTestPortModeSelect) != 0;
  const bool data = (lines & reg::kTestPortDataIn) != 0;
  return mode ? (data ? 'B' : 'M') : (data ? 'D' : '0');
}

// Fuse words: the status word at lane 1, index 0x1E; the key digest in lane 3.
constexpr uint32_t kStatusLane = 1;
constexpr uint32_t kStatusIndex = 0x1E;
constexpr uint32_t kDigestLane = 3;
constexpr std::array<uint32_t, 8> kDigestIndexes = {7, 8, 9, 25, 26, 27, 28, 29};

constexpr uint32_t kNibbleIdle = 0xC;
constexpr uint32_t kNibbleSelected = 0x5;
constexpr uint32_t kNibbleStrobed = 0x7;

bool isPortRegister(uint32_t offset) {
  return offset == reg::kTestPortControl || offset == reg::kTestPortData ||
         offset == reg::kFuseResult || offset == reg::kFuseCommand;
}

}  // namespace

ChipFuses::ChipFuses(const AdapterConfig& config, VirtualClock& clock, AdapterStats& stats,
                     const HardwareSemaphores& semaphores)
    : firmware_(config.firmware), clock_(clock), stats_(stats), semaphores_(semaphores) {
  fuses_[kStatusLane][kStatusIndex] = firmware_.fuseStatus;
  for (std::size_t i = 0; i < kDigestIndexes.size(); ++i) {
    const uint8_t* bytes = firmware_.fuseDigest.data() + 4 * i;
    fuses_[kDigestLane][kDigestIndexes[i]] =
        bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  }
  powerOn();
}

bool ChipFuses::claims(uint32_t offset) const {
  return offset == reg::kChipRevision || isPortRegister(offset);
}

void ChipFuses::powerOn() {
  closePort();
}

void ChipFuses::closePort() {
  sequenceStarted_ = false;
  sequenceWrong_ = false;
  edges_ = 0;
  clockHigh_ = false;
  dataRegister_ = 0;
  open_ = false;
  command_ = reg::kFuseCommandIdle;
  step_ = ReadStep::kIdle;
  lane_ = 0;
  index_ = 0;
  stepAt_ = 0;
  strobeEarly_ = false;
  result_ = 0;
}

bool ChipFuses::heldByProgramOrCounted() {
  if (semaphores_.heldByProgram(SemaphoreId::kFuse)) return true;
  stats_.record(Violation::kFuseWithoutSemaphore);
  return false;
}

uint32_t ChipFuses::read(uint32_t offset) {
  if (offset == reg::kChipRevision) return firmware_.chipRevision;
  if (!heldByProgramOrCounted()) return 0;
  switch (offset) {
    case reg::kFuseResult:
      return result_;
    case reg::kFuseCommand:
      return command_;
    default:
      return 0;  // the test port's control, and its data out: nothing the program needs
  }
}

void ChipFuses::write(uint32_t offset, uint32_t value) {
  if (!isPortRegister(offset)) return;  // the revision is read-only
  if (!heldByProgramOrCounted()) return;
  switch (offset) {
    case reg::kTestPortControl:
      onControl(value);
      break;
    case reg::kTestPortData:
      dataRegister_ = value;
      break;
    case reg::kFuseCommand:
      onCommand(value);
      break;
    default:
      break;  // the result is read-only
  }
}

void ChipFuses::onControl(uint32_t value) {
  if (value == 0) {
    // A new sequence; the fuse read port closes until it has been completed.
    sequenceStarted_ = true;
    sequenceWrong_ = false;
    edges_ = 0;
    clockHigh_ = false;
    open_ = false;
    return;
  }
  const bool enabled = (value & reg::kTestPortEnable) != 0;
  const bool clock = (value & reg::kTestPortClock) != 0;
  const uint32_t lines = value & kLines;
  if (enabled && clock && !clockHigh_) {
    const bool expected =
        sequenceStarted_ && edges_ < kOpeningEdges.size() && kOpeningEdges[edges_] == edgeOf(lines);
    if (!expected) {
      if (!sequenceWrong_) stats_.record(Violation::kTestPortSequence);
      sequenceWrong_ = true;
      open_ = false;  // an edge after the closing write takes the port out of the opened state
    }
    ++edges_;
  } else if (enabled && !clock && lines == 0 && sequenceStarted_ &&
             edges_ == kOpeningEdges.size()) {
    // The closing write after the last edge. The sequence stays started: an edge after it is
    // one too many.
    if (!sequenceWrong_ && dataRegister_ == reg::kTestPortDataSetup) {
      open_ = true;
    } else if (!sequenceWrong_) {
      stats_.record(Violation::kTestPortSequence);  // the data register was never set up
      sequenceWrong_ = true;
    }
  }
  clockHigh_ = enabled && clock;
}

void ChipFuses::onCommand(uint32_t value) {
  command_ = value;
  // Which lane the low half selects, and whether its strobe is set.
  int lane = -1;
  bool strobe = false;
  bool wellFormed = true;
  for (int i = 0; i < 4; ++i) {
    const uint32_t nibble = (value >> (4 * i)) & 0xF;
    if (nibble == kNibbleIdle) continue;
    if ((nibble == kNibbleSelected || nibble == kNibbleStrobed) && lane < 0) {
      lane = i;
      strobe = nibble == kNibbleStrobed;
    } else {
      wellFormed = false;
    }
  }
  const uint32_t word = value >> 16;
  if (!wellFormed || lane < 0 || word / 0x400 != static_cast<uint32_t>(lane) ||
      word % 0x400 >= 32) {
    // The idle value, or nothing the port takes: no word is being read.
    step_ = ReadStep::kIdle;
    result_ = 0;
    return;
  }
  const bool sameWord =
      step_ != ReadStep::kIdle && lane_ == static_cast<uint32_t>(lane) && index_ == word % 0x400;
  const uint64_t now = clock_.now();
  if (strobe) {
    if (sameWord && step_ == ReadStep::kSelected) {
      strobeEarly_ = now - stepAt_ < kFuseStepNs;
      if (strobeEarly_) stats_.record(Violation::kFuseStepTooShort);
      step_ = ReadStep::kStrobed;
      stepAt_ = now;
    } else if (!(sameWord && step_ == ReadStep::kStrobed)) {
      // A strobe without its word selected first latches nothing.
      step_ = ReadStep::kIdle;
      result_ = 0;
    }
    return;
  }
  if (sameWord && step_ == ReadStep::kStrobed) {
    latch();
  } else if (!(sameWord && step_ == ReadStep::kLatched)) {
    // A word selected; it is strobed no sooner than 1 ms from now.
    step_ = ReadStep::kSelected;
    lane_ = static_cast<uint32_t>(lane);
    index_ = word % 0x400;
    stepAt_ = now;
    strobeEarly_ = false;
    result_ = 0;
  }
}

// The strobe released: the word appears in the result register, if the port is open and each
// step took its time.
void ChipFuses::latch() {
  const bool released = clock_.now() - stepAt_ >= kFuseStepNs;
  if (!released) stats_.record(Violation::kFuseStepTooShort);
  if (!open_) {
    // A sequence left unfinished (edges missing, or the closing write) is noticed here.
    if (sequenceStarted_ && !sequenceWrong_) {
      stats_.record(Violation::kTestPortSequence);
      sequenceWrong_ = true;
    }
    stats_.record(Violation::kFusePortClosed);
  }
  result_ = open_ && released && !strobeEarly_ ? fuses_[lane_][index_] : 0;
  step_ = ReadStep::kLatched;
}

}  // namespace hlv::sim
