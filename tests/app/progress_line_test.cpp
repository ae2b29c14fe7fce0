// The progress line: what it draws for the flash layer's reports, where, and when it draws
// nothing at all.
#include "app/progress_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/fake_updater.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

// A terminal stand-in that keeps what was drawn.
class Terminal {
 public:
  Terminal() : file_(open_memstream(&buffer_, &size_)) {}
  ~Terminal() {
    std::fclose(file_);
    std::free(buffer_);
  }
  std::FILE* file() { return file_; }
  std::string text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
  }
  // Each drawing, without the cursor save and restore around it and the wiping after it.
  std::vector<std::string> drawings() {
    std::vector<std::string> found;
    const std::string all = text();
    for (std::size_t at = all.find("\0337"); at != std::string::npos; at = all.find("\0337", at)) {
      const std::size_t end = all.find("\033[K\0338", at);
      if (end == std::string::npos) break;
      found.push_back(all.substr(at + 2, end - at - 2));
      at = end;
    }
    return found;
  }

 private:
  char* buffer_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

void report(FlashProgressObserver& line, FlashOperation operation, uint64_t bytes, uint32_t step) {
  for (uint64_t done = 0; done < bytes; done += step)
    line.flashBytesDone(operation, static_cast<uint32_t>(std::min<uint64_t>(step, bytes - done)));
}

TEST(ProgressLine, ABackupReadIsDrawnOncePerPercentUpToTheWholeFlash) {
  test::FakeUpdater updater;
  Terminal terminal;
  {
    ProgressLine line(updater, terminal.file());
    EXPECT_EQ(updater.progress, &line);
    line.expectBackup(0x200000);
    report(line, FlashOperation::kRead, 0x200000, 4096);
  }
  EXPECT_EQ(updater.progress, nullptr);
  const std::vector<std::string> drawn = terminal.drawings();
  ASSERT_FALSE(drawn.empty());
  EXPECT_EQ(drawn.front(), "backup read   0% (4096 of 2097152 bytes)");
  EXPECT_EQ(drawn.back(), "backup read 100% (2097152 of 2097152 bytes)");
  for (std::size_t i = 1; i < drawn.size(); ++i)
    EXPECT_NE(drawn[i], drawn[i - 1]) << "drawn again without a change at " << i;
  // Wiped when the step ends, the cursor left where the step's text ended.
  const std::string all = terminal.text();
  EXPECT_EQ(all.substr(all.size() - 3), "\033[K");
}

TEST(ProgressLine, AnUpdateShowsEraseProgramAndVerifyButNotTheReadsBeforeItWrites) {
  test::FakeUpdater updater;
  Terminal terminal;
  {
    ProgressLine line(updater, terminal.file());
    line.expectUpdate(0x10000, 0x2000);
    line.flashBytesDone(FlashOperation::kRead, 0x4000);  // the control blocks
    report(line, FlashOperation::kErase, 0x10000, 0x8000);
    report(line, FlashOperation::kProgram, 0x2000, 0x1000);
    report(line, FlashOperation::kRead, 0x2000, 0x1000);
    // The new control block after the bank: more than expected stays at 100%.
    line.flashBytesDone(FlashOperation::kErase, 0x4000);
  }
  const std::vector<std::string> expected = {
      "erase  50% (32768 of 65536 bytes)", "erase 100% (65536 of 65536 bytes)",
      "program  50% (4096 of 8192 bytes)", "program 100% (8192 of 8192 bytes)",
      "verify  50% (4096 of 8192 bytes)",  "verify 100% (8192 of 8192 bytes)",
      "erase 100% (65536 of 65536 bytes)",
  };
  EXPECT_EQ(terminal.drawings(), expected);
}

TEST(ProgressLine, WithoutATerminalNothingIsWatchedOrDrawn) {
  test::FakeUpdater updater;
  {
    ProgressLine line(updater, nullptr);
    EXPECT_EQ(updater.progress, nullptr);
    line.expectBackup(4096);
    line.flashBytesDone(FlashOperation::kRead, 4096);
  }
  EXPECT_EQ(updater.progress, nullptr);
}

TEST(ProgressLine, AStepThatReportsNothingLeavesTheTerminalUntouched) {
  test::FakeUpdater updater;
  Terminal terminal;
  { ProgressLine line(updater, terminal.file()); }
  EXPECT_EQ(terminal.text(), "");
}

struct FirmwareBytesCase {
  const char* what;
  image::ImageSpec spec;
  std::size_t length;  // of the buffer handed over
  uint64_t expected;
};

image::ImageSpec withRom(uint32_t size) {
  image::ImageSpec spec;
  spec.ncbs[0].sizes[4] = size;
  return spec;
}

image::ImageSpec noneActive() {
  image::ImageSpec spec;
  spec.ncbs[0].state = NcbState::kDeactivated;
  return spec;
}

class FirmwareBytes : public testing::TestWithParam<FirmwareBytesCase> {};

TEST_P(FirmwareBytes, CountsTheComponentsOfTheActiveBlock) {
  const std::vector<uint8_t> image = buildImage(GetParam().spec);
  EXPECT_EQ(firmwareBytes(std::span(image).first(GetParam().length)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Images, FirmwareBytes,
    testing::Values(FirmwareBytesCase{"ncb0_active", image::ImageSpec(), 0x200000,
                                      0x8000 + 0x10000 + 0x4000 + 0x2000 + 0x4000},
                    FirmwareBytesCase{"no_rom", withRom(0), 0x200000,
                                      0x8000 + 0x10000 + 0x4000 + 0x2000},
                    FirmwareBytesCase{"ncb1_active", image::updatedFlashSpec({1, 5, 0}, {1, 6, 0}),
                                      0x200000, 0x8000 + 0x10000 + 0x4000 + 0x2000 + 0x4000},
                    FirmwareBytesCase{"none_active", noneActive(), 0x200000, 0},
                    FirmwareBytesCase{"shorter_than_a_block", image::ImageSpec(), 0x100, 0}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
}  // namespace hlv
