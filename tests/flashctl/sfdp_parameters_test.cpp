// Parameters derived from SFDP areas the emulated parts do not produce: other page sizes, flag
// status polling, odd erase-type entries, several headers, large densities.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "device/register_map.h"
#include "flashctl/voapiflashcontrol.h"

namespace hlv {
namespace {

// Answers the SFDP read (and nothing else) from a byte area; the engine is always idle.
class SfdpOnlyRegisters : public VoRegControlInterface {
 public:
  explicit SfdpOnlyRegisters(std::vector<uint8_t> area) : area_(std::move(area)) {}
  uint32_t read32(uint32_t offset) override { return offset == reg::kFlashData ? data_ : 0; }
  void write32(uint32_t offset, uint32_t value) override {
    if (offset == reg::kFlashAddress) address_ = value & 0xFFFFFF;
    if (offset == reg::kFlashCommand && value == 0x805A) {
      data_ = 0;
      for (uint32_t i = 0; i < 4; ++i) {
        const uint64_t at = static_cast<uint64_t>(address_) + i;
        data_ |= static_cast<uint32_t>(at < area_.size() ? area_[at] : 0xFF) << (8 * i);
      }
    }
  }

 private:
  std::vector<uint8_t> area_;
  uint32_t address_ = 0;
  uint32_t data_ = 0;
};

struct Area {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(0x200, 0xFF);
  void word(uint32_t address, uint32_t value) {
    for (uint32_t i = 0; i < 4; ++i)
      bytes[address + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  // Signature, header count, and basic-table headers at the given addresses.
  Area(std::vector<std::pair<uint32_t, uint32_t>> headers) {  // (first word, table address)
    word(0, 0x50444653);
    word(4, 0xFF000000 | static_cast<uint32_t>(headers.size() - 1) << 16 | 0x0106);
    for (std::size_t i = 0; i < headers.size(); ++i) {
      word(8 + 8 * static_cast<uint32_t>(i), headers[i].first);
      word(12 + 8 * static_cast<uint32_t>(i), 0xFF000000 | headers[i].second);
    }
  }
};

constexpr uint32_t kRevision16Basic = 16u << 24 | 1 << 16 | 6 << 8;  // 16 words, 1.6
constexpr uint32_t kTable = 0x40;

// A 1.6 table of a 2 MiB part with 4 KiB and 64 KiB erases; cases change single words.
Area basicArea() {
  Area area({{kRevision16Basic, kTable}});
  area.word(kTable + 0x00, 0xFF8020E5);
  area.word(kTable + 0x04, 2 * 1024 * 1024 * 8 - 1);
  area.word(kTable + 0x1C, 0x0000D810 << 16 | 0x200C);
  area.word(kTable + 0x20, 0);
  area.word(kTable + 0x24, 0x00000002);
  area.word(kTable + 0x28, 1u << 29 | 18u << 24 | 8 << 4);
  area.word(kTable + 0x34, 0x00000004);
  area.word(kTable + 0x3C, 0x00000001);
  return area;
}

FlashParams derive(const Area& area) {
  SfdpOnlyRegisters registers(area.bytes);
  VoApiFlashControl owner(&registers);
  gVoApiFlashCtrlCtx.ctrl = &owner;
  FlashParams params;
  EXPECT_EQ(loadParams(FlashHwContext{}, kFlashPartSfdp, params), FLASH_OK);
  gVoApiFlashCtrlCtx.ctrl = nullptr;
  return params;
}

TEST(SfdpArea, BasicTableOfARevision16Part) {
  const FlashParams params = derive(basicArea());
  EXPECT_EQ(params.pageSize, 256);
  EXPECT_EQ(params.smallEraseOpcode, 0x20);
  EXPECT_EQ(params.smallErasePages, 16);
  EXPECT_EQ(params.largeEraseOpcode, 0xD8);
  EXPECT_EQ(params.largeErasePages, 256);
  EXPECT_EQ(params.flashSize, 2u * 1024 * 1024);
  // Typical chip erase 19 x 256 ms = 4864 ms, rounded to 5 s; maximum six times that.
  EXPECT_EQ(params.statusTimeout, 30);
}

TEST(SfdpArea, PageSizeComesFromWord11AndSetsTheEraseUnitsInPages) {
  Area area = basicArea();
  area.word(kTable + 0x28, 1u << 29 | 18u << 24 | 9 << 4);
  const FlashParams params = derive(area);
  EXPECT_EQ(params.pageSize, 512);
  EXPECT_EQ(params.smallErasePages, 8);
  EXPECT_EQ(params.largeErasePages, 128);
}

TEST(SfdpArea, FlagStatusPollingUsesOpcode70ReadyWhenBit7IsSet) {
  Area area = basicArea();
  area.word(kTable + 0x34, 0x00000008);
  const FlashParams params = derive(area);
  EXPECT_EQ(params.rdsrOpcode, 0x70);
  EXPECT_EQ(params.busyMask, 0x80);
  EXPECT_EQ(params.readyWhenSet, 1);
  EXPECT_EQ(params.statusCommand, 0x8070);
}

TEST(SfdpArea, EraseEntriesOfHugeOrOtherSizesAreNoLargeErase) {
  Area area = basicArea();
  // Size exponents 200 and 15 (32 KiB) only: there is no 64 KiB erase.
  area.word(kTable + 0x1C, 0x0000D8C8u << 16 | 0x520F);
  const FlashParams params = derive(area);
  EXPECT_EQ(params.largeEraseOpcode, 0xFF);
  EXPECT_EQ(params.largeErasePages, 0);
}

TEST(SfdpArea, OnlyBasicTableHeadersCountAndTheLastOneWins) {
  Area area({{kRevision16Basic, kTable}, {0x02000184, 0x100}, {kRevision16Basic, 0x140}});
  for (uint32_t offset = 0; offset < 0x40; offset += 4) {
    area.word(0x140 + offset, 0);
    area.word(kTable + offset, 0);
  }
  area.word(0x140 + 0x04, 4 * 1024 * 1024 * 8 - 1);
  area.word(kTable + 0x04, 1024 * 1024 * 8 - 1);
  EXPECT_EQ(derive(area).flashSize, 4u * 1024 * 1024);
}

TEST(SfdpArea, DensitiesGivenAsAPowerOfTwo) {
  Area area = basicArea();
  area.word(kTable + 0x04, 0x80000000u | 27);  // 2^27 bits
  EXPECT_EQ(derive(area).flashSize, 16u * 1024 * 1024);
}

TEST(SfdpArea, AStatusRegisterWrittenAfter50GetsItForTheStatusWriteOnly) {
  Area area = basicArea();
  area.word(kTable + 0x3C, 0x00000004);
  const FlashParams params = derive(area);
  EXPECT_EQ(params.wrenOpcode, 0x50);
  EXPECT_EQ(params.statusWriteEnableCommand, 0x8050);
  EXPECT_EQ(params.writeEnableCommand, 0x8006);
}

}  // namespace
}  // namespace hlv
