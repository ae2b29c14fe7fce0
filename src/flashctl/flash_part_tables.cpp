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

// Timeout 10 unless stated; page 256 unless stated.
constexpr PartParameters kParameters[] = {
    {0, 128, false, kNone, kNone, 10, 64 * kKiB},
    {1, 256, true, {0x50, 8}, {0x7C, 256}, 17, 512 * kKiB},
    {2, 256, true, {0x50, 8}, {0x7C, 256}, 17, 512 * kKiB},
    {3, 256, false, kNone, kNone, 10, 64 * kKiB},
    {4, 256, false, kNone, kNone, 10, 256 * kKiB},
    {5, 256, false, kSector4k, kBlock64k, 10, 512 * kKiB},
    {6, 256, false, kNone, kBlock64k, 10, 512 * kKiB},
    {7, 256, false, kSector4k, kBlock64k, 10, 512 * kKiB},
    {8, 256, false, kSector4k, kBlock64k, 10, 512 * kKiB},
    {9, 512, true, {0x50, 8}, {0x7C, 128}, 80, 4 * kMiB},
    {10, 256, false, kSector4k, kBlock64k, 50, 4 * kMiB},
    {11, 256, false, kSector4k, kBlock64k, 50, 4 * kMiB},
    {12, 256, false, kSector4k, kBlock64k, 10, 2 * kMiB},
    {13, 256, false, kSector4k, kBlock64k, 10, 512 * kKiB},
    {14, 256, false, kSector4k, kBlock64k, 50, 4 * kMiB},
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
