#include "app/progress_line.h"

#include <unistd.h>

#include <algorithm>
#include <optional>

#include "shared/halvern_ncb.h"
#include "update/voflupdateiface.h"

namespace hlv {
namespace {

// Save the cursor, draw, wipe what an earlier, longer text left, restore the cursor.
constexpr char kSaveCursor[] = "\0337";
constexpr char kRestoreCursor[] = "\0338";
constexpr char kClearToEnd[] = "\033[K";

std::size_t slot(ProgressPhase phase) {
  return static_cast<std::size_t>(phase);
}

unsigned percentOf(uint64_t done, uint64_t total) {
  // More bytes than expected (a read tried again, the control block after the bank) stay 100%.
  if (total == 0 || done >= total) return 100;
  return static_cast<unsigned>(done * 100 / total);
}

const char* phaseName(ProgressPhase phase) {
  switch (phase) {
    case ProgressPhase::kBackup:
      return "backup read";
    case ProgressPhase::kErase:
      return "erase";
    case ProgressPhase::kProgram:
      return "program";
    case ProgressPhase::kVerify:
      return "verify";
    case ProgressPhase::kNone:
      break;
  }
  return "";
}

}  // namespace

ProgressLine::ProgressLine(VoFlUpdateIface& updater, std::FILE* terminal) : terminal_(terminal) {
  if (terminal_ == nullptr) return;
  updater_ = &updater;
  updater_->setProgressObserver(this);
}

ProgressLine::~ProgressLine() {
  if (updater_ == nullptr) return;
  updater_->setProgressObserver(nullptr);
  if (drawn_) {
    std::fputs(kClearToEnd, terminal_);
    std::fflush(terminal_);
  }
}

void ProgressLine::expectBackup(uint64_t flashBytes) {
  backup_ = true;
  total_[slot(ProgressPhase::kBackup)] = flashBytes;
}

void ProgressLine::expectUpdate(uint64_t eraseBytes, uint64_t programBytes) {
  backup_ = false;
  total_[slot(ProgressPhase::kErase)] = eraseBytes;
  total_[slot(ProgressPhase::kProgram)] = programBytes;
  total_[slot(ProgressPhase::kVerify)] = programBytes;
}

void ProgressLine::flashBytesDone(FlashOperation operation, uint32_t bytes) {
  if (terminal_ == nullptr) return;
  ProgressPhase phase = ProgressPhase::kNone;
  switch (operation) {
    case FlashOperation::kRead:
      // An update reads control blocks and versions before it writes anything; only what it
      // reads back after programming is its verification.
      phase = backup_ ? ProgressPhase::kBackup
                      : (programmed_ ? ProgressPhase::kVerify : ProgressPhase::kNone);
      break;
    case FlashOperation::kProgram:
      programmed_ = true;
      phase = ProgressPhase::kProgram;
      break;
    case FlashOperation::kErase:
      phase = ProgressPhase::kErase;
      break;
  }
  if (phase == ProgressPhase::kNone) return;
  done_[slot(phase)] += bytes;
  phase_ = phase;
  draw();
}

void ProgressLine::draw() {
  const unsigned percent = percentOf(done_[slot(phase_)], total_[slot(phase_)]);
  if (drawn_ && phase_ == drawnPhase_ && percent == drawnPercent_) return;
  drawn_ = true;
  drawnPhase_ = phase_;
  drawnPercent_ = percent;
  const std::string text = progressText(phase_, done_[slot(phase_)], total_[slot(phase_)]);
  std::fprintf(terminal_, "%s%s%s%s", kSaveCursor, text.c_str(), kClearToEnd, kRestoreCursor);
  std::fflush(terminal_);
}

std::FILE* progressTerminal() {
  return isatty(STDERR_FILENO) == 1 ? stderr : nullptr;
}

std::string progressText(ProgressPhase phase, uint64_t done, uint64_t total) {
  char text[96];
  std::snprintf(text, sizeof text, "%s %3u%% (%llu of %llu bytes)", phaseName(phase),
                percentOf(done, total), static_cast<unsigned long long>(std::min(done, total)),
                static_cast<unsigned long long>(total));
  return text;
}

uint64_t firmwareBytes(std::span<const uint8_t> image) {
  std::optional<ConstHalvernNcb> block = ConstHalvernNcb::inBuffer(image, kNcb0Address);
  if (!block || !block->active()) block = ConstHalvernNcb::inBuffer(image, kNcb1Address);
  if (!block || !block->active()) return 0;
  uint64_t bytes = 0;
  for (NcbComponent component : kAllNcbComponents)
    bytes += block->component(component).size;
  return bytes;
}

}  // namespace hlv
