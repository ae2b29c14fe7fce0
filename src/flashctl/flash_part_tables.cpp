#include "flashctl/flash_part_tables.h"

namespace hlv {
namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * 1024;

constexpr PartIdentification kIdentification[] = {
    {0x1F, 0x24, IdRule::kFourthZero, 0, 1},
    {0x1F, 0x24, IdRule::kFourthNonZero, 0, 2},
    {0x1F, 0x43, IdRule::kAny, 0, 4},
    {0x1F, 0x44, IdRule::kAny, 0, 5},
    {0x1F, 0x27, IdRule::kAny, 0, 9},
    {0x20, 0x20, IdRule::kThirdEquals, 0x10, 3},
    {0x20, 0x20, IdRule::kThirdEquals, 0x13, 6},
    {0xC2, 0x20, IdRule::kThirdEquals, 0x13, 7},
    {0xC2, 0x23, IdRule::kThirdEquals, 0x13, 8},
    {0xC2, 0x20, IdRule::kThirdEquals, 0x16, 10},
    {0xEF, 0x40, IdRule::kThirdEquals, 0x16, 11},
    {0xEF, 0x60, IdRule::kThirdEquals, 0x15, 12},
    {0xEF, 0x30, IdRule::kThirdEquals, 0x13, 13},
    {0x01, 0x40, IdRule::kThirdEquals, 0x16, 14},
};

constexpr EraseOpcode kNone{0, 0};
constexpr EraseOpcode kSector4k{0x20, 16};
constexpr EraseOpcode kBlock64k{0xD8, 256};

// The ready-bit parts (1, 2, 9) poll bit 7 of their own status read, take no write enable and
// split their first large unit after its first eight pages.
constexpr bool kReadyBit = true;
constexpr bool kNoWriteEnable = true;
constexpr uint16_t kNotSplit = 0;
constexpr uint16_t kSplitAfter8Pages = 8;

constexpr PartParameters kParameters[] = {
    {0, 128, false, false, kNone, kNone, kNotSplit, 10, 64 * kKiB},
    {1, 256, kReadyBit, kNoWriteEnable, {0x50, 8}, {0x7C, 256}, kSplitAfter8Pages, 17, 512 * kKiB},
    {2, 256, kReadyBit, kNoWriteEnable, {0x50, 8}, {0x7C, 256}, kSplitAfter8Pages, 17, 512 * kKiB},
    {3, 256, false, false, kNone, kNone, kNotSplit, 10, 64 * kKiB},
    {4, 256, false, false, kNone, kNone, kNotSplit, 10, 256 * kKiB},
    {5, 256, false, false, kSector4k, kBlock64k, kNotSplit, 10, 512 * kKiB},
    {6, 256, false, false, kNone, kBlock64k, kNotSplit, 10, 512 * kKiB},
    {7, 256, false, false, kSector4k, kBlock64k, kNotSplit, 10, 512 * kKiB},
    {8, 256, false, false, kSector4k, kBlock64k, kNotSplit, 10, 512 * kKiB},
    {9, 512, kReadyBit, kNoWriteEnable, {0x50, 8}, {0x7C, 128}, kSplitAfter8Pages, 80, 4 * kMiB},
    {10, 256, false, false, kSector4k, kBlock64k, kNotSplit, 50, 4 * kMiB},
    {11, 256, false, false, kSector4k, kBlock64k, kNotSplit, 50, 4 * kMiB},
    {12, 256, false, false, kSector4k, kBlock64k, kNotSplit, 10, 2 * kMiB},
    {13, 256, false, false, kSector4k, kBlock64k, kNotSplit, 10, 512 * kKiB},
    {14, 256, false, false, kSector4k, kBlock64k, kNotSplit, 50, 4 * kMiB},
};

bool ruleHolds(const PartIdentification& row, uint8_t third, uint8_t fourth) {
  switch (row.rule) {
    case IdRule::kAny:
      return true;
    case IdRule::kThirdEquals:
      return third == row.value;
    case IdRule::kFourthZero:
      return fourth == 0;
    case IdRule::kFourthNonZero:
      return fourth != 0;
  }
  return false;
}

}  // namespace

std::span<const PartIdentification> partIdentificationTable() {
  return kIdentification;
}

std::optional<FlashPartType> identifyJedecWord(uint32_t word) {
  const auto byte = [word](int i) { return static_cast<uint8_t>(word >> (8 * i)); };
  for (const PartIdentification& row : kIdentification) {
    if (byte(0) == row.manufacturer && byte(1) == row.device && ruleHolds(row, byte(2), byte(3))) {
      return row.type;
    }
  }
  return std::nullopt;
}

std::span<const PartParameters> partParameterTable() {
  return kParameters;
}

const PartParameters* parametersOf(FlashPartType type) {
  for (const PartParameters& row : kParameters) {
    if (row.type == type) return &row;
  }
  return nullptr;
}

}  // namespace hlv
