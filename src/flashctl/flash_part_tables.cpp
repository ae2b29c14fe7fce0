#include "flashctl/flash_part_tables.h"

namespace hlv {
namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * 1024;

constexpr EraseOpcode kSector4k{0x20, 16};
constexpr EraseOpcode kBlock64k{0xD8, 256};

// The ready-bit parts poll bit 7 of their own status read, take no write enable and split their
// first large unit after its first eight pages.
constexpr PartQuirks kReadyBitPart{
    .readyBitStatus = true, .noWriteEnable = true, .splitFirstUnitPages = 8};

using enum IdRule;

// One row a part, left as written: a row per line group reads better than one field per line.
// clang-format off
constexpr FlashPart kParts[] = {
    {.name = "651F", .type = 0, .id = {0x1F, 0x65, kShortAnswer}, .flashSize = 64 * kKiB,
     .pageSize = 128},
    {.name = "1F2400", .type = 1, .id = {0x1F, 0x24, kFourthZero}, .flashSize = 512 * kKiB,
     .smallErase = {0x50, 8}, .largeErase = {0x7C, 256}, .statusTimeout = 17,
     .quirks = kReadyBitPart},
    {.name = "1F240001", .type = 2, .id = {0x1F, 0x24, kFourthNonZero}, .flashSize = 512 * kKiB,
     .smallErase = {0x50, 8}, .largeErase = {0x7C, 256}, .statusTimeout = 17,
     .quirks = kReadyBitPart},
    {.name = "1F43xx", .type = 4, .id = {0x1F, 0x43}, .flashSize = 256 * kKiB},
    {.name = "1F44xx", .type = 5, .id = {0x1F, 0x44}, .flashSize = 512 * kKiB,
     .smallErase = kSector4k, .largeErase = kBlock64k},
    {.name = "1F27xx", .type = 9, .id = {0x1F, 0x27}, .flashSize = 4 * kMiB, .pageSize = 512,
     .smallErase = {0x50, 8}, .largeErase = {0x7C, 128}, .statusTimeout = 80,
     .quirks = kReadyBitPart},
    {.name = "202010", .type = 3, .id = {0x20, 0x20, kThirdEquals, 0x10}, .flashSize = 64 * kKiB},
    {.name = "202013", .type = 6, .id = {0x20, 0x20, kThirdEquals, 0x13}, .flashSize = 512 * kKiB,
     .largeErase = kBlock64k},
    {.name = "C22013", .type = 7, .id = {0xC2, 0x20, kThirdEquals, 0x13}, .flashSize = 512 * kKiB,
     .smallErase = kSector4k, .largeErase = kBlock64k},
    {.name = "C22313", .type = 8, .id = {0xC2, 0x23, kThirdEquals, 0x13}, .flashSize = 512 * kKiB,
     .smallErase = kSector4k, .largeErase = kBlock64k},
    {.name = "C22016", .type = 10, .id = {0xC2, 0x20, kThirdEquals, 0x16}, .flashSize = 4 * kMiB,
     .smallErase = kSector4k, .largeErase = kBlock64k, .statusTimeout = 50},
    {.name = "EF4016", .type = 11, .id = {0xEF, 0x40, kThirdEquals, 0x16}, .flashSize = 4 * kMiB,
     .smallErase = kSector4k, .largeErase = kBlock64k, .statusTimeout = 50},
    {.name = "EF6015", .type = 12, .id = {0xEF, 0x60, kThirdEquals, 0x15}, .flashSize = 2 * kMiB,
     .smallErase = kSector4k, .largeErase = kBlock64k},
    {.name = "EF3013", .type = 13, .id = {0xEF, 0x30, kThirdEquals, 0x13}, .flashSize = 512 * kKiB,
     .smallErase = kSector4k, .largeErase = kBlock64k},
    {.name = "014016", .type = 14, .id = {0x01, 0x40, kThirdEquals, 0x16}, .flashSize = 4 * kMiB,
     .smallErase = kSector4k, .largeErase = kBlock64k, .statusTimeout = 50},
};
// clang-format on

// A type names one row, and none collides with the types that stand for no row.
constexpr bool typesAreDistinct() {
  for (const FlashPart& row : kParts) {
    if (row.type == kFlashPartSfdp || row.type == kFlashPartNoInterface ||
        row.type == kFlashPartUnknown) {
      return false;
    }
    int count = 0;
    for (const FlashPart& other : kParts)
      count += other.type == row.type ? 1 : 0;
    if (count != 1) return false;
  }
  return true;
}
static_assert(typesAreDistinct(), "two flash part rows share a type");

bool ruleHolds(const PartIdentification& id, uint8_t third, uint8_t fourth) {
  switch (id.rule) {
    case kShortAnswer:
      return false;  // not a JEDEC answer
    case kAny:
      return true;
    case kThirdEquals:
      return third == id.value;
    case kFourthZero:
      return fourth == 0;
    case kFourthNonZero:
      return fourth != 0;
  }
  return false;
}

}  // namespace

std::span<const FlashPart> flashPartTable() {
  return kParts;
}

const FlashPart* partOfShortAnswer(uint32_t answer) {
  for (const FlashPart& row : kParts) {
    if (row.id.rule == kShortAnswer &&
        answer == (uint32_t{row.id.device} << 8 | row.id.manufacturer))
      return &row;
  }
  return nullptr;
}

std::optional<FlashPartType> identifyJedecWord(uint32_t word) {
  const auto byte = [word](int i) { return static_cast<uint8_t>(word >> (8 * i)); };
  for (const FlashPart& row : kParts) {
    if (byte(0) == row.id.manufacturer && byte(1) == row.id.device &&
        ruleHolds(row.id, byte(2), byte(3))) {
      return row.type;
    }
  }
  return std::nullopt;
}

const FlashPart* parametersOf(FlashPartType type) {
  for (const FlashPart& row : kParts) {
    if (row.type == type) return &row;
  }
  return nullptr;
}

}  // namespace hlv
