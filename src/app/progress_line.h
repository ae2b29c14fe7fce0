// The line on standard error that shows a long flash step moving: the backup read, then the
// erase, program and verify of an update, each with its percentage and bytes. People pull the
// plug on a tool that looks frozen; a whole flash takes seconds to read and a bank seconds to
// erase. Standard output, whose console texts are fixed, never sees a byte of it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "shared/flash_progress.h"

namespace hlv {

class VoFlUpdateIface;

enum class ProgressPhase : uint8_t { kNone, kBackup, kErase, kProgram, kVerify };

// Drawn right after the step's text ("|-- Updating... "), where the cursor stands: the line is
// saved and restored around each drawing, so that the step's result word, printed on standard
// output once the step ends, lands where it always did. It is drawn again only when its phase or
// percentage changes, and wiped when the step ends.
class ProgressLine : public FlashProgressObserver {
 public:
  // Watches the updater's flash work while it lives, drawing on `terminal`; with no terminal
  // (standard error is not one) it neither watches nor draws.
  ProgressLine(VoFlUpdateIface& updater, std::FILE* terminal);
  ~ProgressLine() override;
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  // The reads to come are a backup of a flash of this many bytes.
  void expectBackup(uint64_t flashBytes);
  // An update to come: it erases about eraseBytes and programs, then reads back, about
  // programBytes. Reads before its first program (control blocks, versions) are not shown.
  void expectUpdate(uint64_t eraseBytes, uint64_t programBytes);

  void flashBytesDone(FlashOperation operation, uint32_t bytes) override;

 private:
  void draw();

  VoFlUpdateIface* updater_ = nullptr;  // null: nothing is watched
  std::FILE* terminal_;
  bool backup_ = false;
  bool programmed_ = false;
  ProgressPhase phase_ = ProgressPhase::kNone;
  uint64_t done_[5] = {};
  uint64_t total_[5] = {};
  ProgressPhase drawnPhase_ = ProgressPhase::kNone;
  unsigned drawnPercent_ = 0;
  bool drawn_ = false;
};

// Standard error when it is a terminal, else null: where progress lines are drawn.
std::FILE* progressTerminal();

// The text of the line for a phase with `done` of `total` bytes.
std::string progressText(ProgressPhase phase, uint64_t done, uint64_t total);

// The bytes an update with this image programs: the components its active control block
// records (0 when the image has no active block). What the progress line counts against.
uint64_t firmwareBytes(std::span<const uint8_t> image);

}  // namespace hlv
