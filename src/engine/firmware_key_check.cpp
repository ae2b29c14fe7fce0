#include "engine/firmware_key_check.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/hardware_semaphore.h"
#include "device/register_map.h"
#include "engine/firmware_key_check_trace.h"
#include "engine/image_key_digest.h"
#include "platform/platform.h"
#include "shared/little_endian.h"

namespace hlv {
namespace tp = trace_points::firmware_key_check;

namespace {

// The fuse semaphore is polled without pauses for at most this long.
constexpr uint32_t kSemaphoreLimitMs = 500;
// The fuse read port needs this long between its command steps.
constexpr uint32_t kFuseStepMs = 1;

// The instruction shifted into the serial test port that opens the fuse read port, least
// significant bit first.
constexpr uint32_t kFuseAccessInstruction = 0xFFE7FC7A;

constexpr uint32_t kModeSelect = reg::kTestPortModeSelect;
constexpr uint32_t kDataIn = reg::kTestPortDataIn;

// Lane patterns of the fuse read port (the lane's nibble selects it) and their strobe bits.
constexpr std::array<uint16_t, 4> kLanePattern = {0xCCC5, 0xCC5C, 0xC5CC, 0x5CCC};
constexpr std::array<uint16_t, 4> kLaneStrobe = {0x0002, 0x0020, 0x0200, 0x2000};

// One bit on the serial port: the lines set with the clock low, then the clock raised, then the
// data-out register read (what it says is not needed).
void clockBit(VoRegControlInterface& regs, uint32_t lines) {
  regs.write32(reg::kTestPortControl, reg::kTestPortEnable | lines);
  regs.write32(reg::kTestPortControl, reg::kTestPortEnable | reg::kTestPortClock | lines);
  (void)regs.read32(reg::kTestPortData);
}

// Walks the serial port's state machine to the instruction register, shifts in the instruction
// that opens the fuse read port, and walks back to idle.
void openFusePort(VoRegControlInterface& regs) {
  regs.write32(reg::kFuseCommand, reg::kFuseCommandIdle);
  regs.write32(reg::kTestPortData, reg::kTestPortDataSetup);
  regs.write32(reg::kTestPortControl, 0);
  regs.write32(reg::kTestPortControl, reg::kTestPortEnable);
  for (int i = 0; i < 5; ++i)
    clockBit(regs, kModeSelect);
  for (uint32_t lines : {0u, kModeSelect, kModeSelect, 0u, 0u})
    clockBit(regs, lines);
  for (uint32_t bit = 0; bit < 32; ++bit) {
    uint32_t lines = (kFuseAccessInstruction >> bit & 1) != 0 ? kDataIn : 0;
    if (bit == 31) lines |= kModeSelect;
    clockBit(regs, lines);
  }
  for (uint32_t lines : {kModeSelect, kModeSelect, 0u, 0u, kModeSelect | kDataIn, kModeSelect, 0u})
    clockBit(regs, lines);
  regs.write32(reg::kTestPortControl, reg::kTestPortEnable);
}

// One fuse word through the fuse read port.
uint32_t readFuseWord(VoRegControlInterface& regs, uint8_t word) {
  const uint32_t lane = word / 32;
  const uint32_t index = word % 32;
  const uint32_t command = ((lane * 0x400 + index) << 16) | kLanePattern[lane];
  platform::Platform& platform = platform::current();
  regs.write32(reg::kFuseCommand, reg::kFuseCommandIdle);
  regs.write32(reg::kFuseCommand, command);
  platform.sleepMilliseconds(kFuseStepMs);
  regs.write32(reg::kFuseCommand, command | kLaneStrobe[lane]);
  platform.sleepMilliseconds(kFuseStepMs);
  regs.write32(reg::kFuseCommand, command);
  const uint32_t value = regs.read32(reg::kFuseResult);
  regs.write32(reg::kFuseCommand, reg::kFuseCommandIdle);
  trace::emit(tp::kFuseWord, word, value);
  return value;
}

}  // namespace

bool checkFirmwareKey(VoRegControlInterface& regCtrl, std::span<const uint8_t> image) {
  const uint32_t revision = regCtrl.read32(reg::kChipRevision);
  if (revision != reg::kChipRevisionWithKeyFuses) {
    trace::emit(tp::kNoKeyFuses, revision);
    return true;
  }
  uint64_t waitedMs = 0;
  if (!takeHardwareSemaphore(regCtrl, reg::kFuseSemaphore, kSemaphoreLimitMs, 0, waitedMs)) {
    trace::emit(tp::kSemaphoreNotGranted, waitedMs);
    return false;
  }
  openFusePort(regCtrl);
  const uint32_t status = readFuseWord(regCtrl, kFuseStatusWord);
  if ((status & kFuseStatusKeyFused) == 0) {
    trace::emit(tp::kNoKeyFused, status);
    releaseHardwareSemaphore(regCtrl, reg::kFuseSemaphore);
    return true;
  }
  std::array<uint32_t, std::size(kKeyDigestFuseWords)> words{};
  for (std::size_t i = 0; i < words.size(); ++i)
    words[i] = readFuseWord(regCtrl, kKeyDigestFuseWords[i]);
  releaseHardwareSemaphore(regCtrl, reg::kFuseSemaphore);

  if (std::all_of(words.begin(), words.end(), [](uint32_t word) { return word == 0; })) {
    trace::emit(tp::kDigestNotFused);
    return true;
  }
  KeyDigest imageDigest{};
  if (!getImageKeyDigest(image, imageDigest)) {
    trace::emit(tp::kImageWithoutKey);
    return false;
  }
  // The fused digest is the eight words as they lie in memory: each little-endian, in order.
  KeyDigest fused{};
  for (std::size_t i = 0; i < words.size(); ++i)
    storeLe32(fused.data() + 4 * i, words[i]);
  const bool match = fused == imageDigest;
  trace::emit(tp::kCompared, match);
  return match;
}

}  // namespace hlv
