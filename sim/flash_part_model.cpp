#include "sim/flash_part_model.h"

#include <cstdio>

namespace hlv::sim {
namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * 1024;

enum class Match : uint8_t { kAnyThird, kThirdEquals, kFourthZero, kFourthNonZero };

// One known part: the identification bytes it answers with and what it is.
struct KnownPart {
  uint8_t manufacturer;
  uint8_t device;
  Match match;
  uint8_t third;  // for kThirdEquals
  uint32_t capacity;
  uint32_t pageSize;
  StatusStyle status;
  std::vector<EraseCommand> erases;
  uint64_t writeStatusNs;  // typical status register write; 0: the part has none
};

constexpr uint64_t kMs = 1000000;
// The ready-bit parts take no status write.
constexpr uint64_t kNoStatusWrite = 0;
// Parts the identification table does not know, and the short-ID part.
constexpr uint64_t kGenericWriteStatusNs = 10 * kMs;
constexpr uint64_t kShortIdWriteStatusNs = 5 * kMs;

const std::vector<KnownPart>& knownParts() {
  using enum StatusStyle;
  const std::vector<EraseCommand> standard = {{0x20, 4 * kKiB}, {0xD8, 64 * kKiB}};
  // Status write times: the typical figure of each part's class, 5 to 15 ms.
  static const std::vector<KnownPart> parts = {
      {0x1F,
       0x24,
       Match::kFourthZero,
       0,
       512 * kKiB,
       256,
       kReadyBit,
       {{0x50, 2 * kKiB}, {0x7C, 64 * kKiB}},
       kNoStatusWrite},
      {0x1F,
       0x24,
       Match::kFourthNonZero,
       0,
       512 * kKiB,
       256,
       kReadyBit,
       {{0x50, 2 * kKiB}, {0x7C, 64 * kKiB}},
       kNoStatusWrite},
      {0x1F, 0x43, Match::kAnyThird, 0, 256 * kKiB, 256, kStatusRegister, {}, 8 * kMs},
      {0x1F, 0x44, Match::kAnyThird, 0, 512 * kKiB, 256, kStatusRegister, standard, 8 * kMs},
      {0x1F,
       0x27,
       Match::kAnyThird,
       0,
       4 * kMiB,
       512,
       kReadyBit,
       {{0x50, 4 * kKiB}, {0x7C, 64 * kKiB}},
       kNoStatusWrite},
      {0x20, 0x20, Match::kThirdEquals, 0x10, 64 * kKiB, 256, kStatusRegister, {}, 5 * kMs},
      {0x20,
       0x20,
       Match::kThirdEquals,
       0x13,
       512 * kKiB,
       256,
       kStatusRegister,
       {{0xD8, 64 * kKiB}},
       5 * kMs},
      {0xC2, 0x20, Match::kThirdEquals, 0x13, 512 * kKiB, 256, kStatusRegister, standard, 15 * kMs},
      {0xC2, 0x23, Match::kThirdEquals, 0x13, 512 * kKiB, 256, kStatusRegister, standard, 15 * kMs},
      {0xC2, 0x20, Match::kThirdEquals, 0x16, 4 * kMiB, 256, kStatusRegister, standard, 15 * kMs},
      {0xEF, 0x40, Match::kThirdEquals, 0x16, 4 * kMiB, 256, kStatusRegister, standard, 10 * kMs},
      {0xEF, 0x60, Match::kThirdEquals, 0x15, 2 * kMiB, 256, kStatusRegister, standard, 10 * kMs},
      {0xEF, 0x30, Match::kThirdEquals, 0x13, 512 * kKiB, 256, kStatusRegister, standard, 10 * kMs},
      {0x01, 0x40, Match::kThirdEquals, 0x16, 4 * kMiB, 256, kStatusRegister, standard, 5 * kMs},
  };
  return parts;
}

bool matches(const KnownPart& part, const std::vector<uint8_t>& id) {
  if (id[0] != part.manufacturer || id[1] != part.device) return false;
  switch (part.match) {
    case Match::kAnyThird:
      return true;
    case Match::kThirdEquals:
      return id[2] == part.third;
    case Match::kFourthZero:
      return id[3] == 0;
    case Match::kFourthNonZero:
      return id[3] != 0;
  }
  return false;
}

std::vector<uint8_t> jedecBytes(uint32_t jedecId) {
  if (jedecId > 0xFFFFFF) {
    return {static_cast<uint8_t>(jedecId >> 24), static_cast<uint8_t>(jedecId >> 16),
            static_cast<uint8_t>(jedecId >> 8), static_cast<uint8_t>(jedecId)};
  }
  return {static_cast<uint8_t>(jedecId >> 16), static_cast<uint8_t>(jedecId >> 8),
          static_cast<uint8_t>(jedecId), 0};
}

}  // namespace

const EraseCommand* FlashPartModel::eraseFor(uint8_t opcode) const {
  for (const EraseCommand& erase : erases) {
    if (erase.opcode == opcode) return &erase;
  }
  return nullptr;
}

FlashPartModel partModelFor(const AdapterConfig& config) {
  FlashPartModel model;
  model.sfdp = config.sfdp;
  model.sfdpRevision = config.sfdpRevision;
  model.volatileStatusWriteEnable = config.volatileStatusWriteEnable;
  model.flagStatusRegister = config.flagStatusRegister;
  if (config.jedecId == kShortIdPart) {
    // A small part from before the JEDEC identification: 128-byte pages, no erase commands.
    model.idBytes = {0x1F, 0x65};
    model.shortId = true;
    model.known = true;
    model.capacity = 64 * kKiB;
    model.pageSize = 128;
    model.writeStatusNs = kShortIdWriteStatusNs;
    return model;
  }
  model.idBytes = jedecBytes(config.jedecId);
  for (const KnownPart& part : knownParts()) {
    if (!matches(part, model.idBytes)) continue;
    model.known = true;
    model.capacity = part.capacity;
    model.pageSize = part.pageSize;
    model.status = part.status;
    model.erases = part.erases;
    model.writeStatusNs = part.writeStatusNs;
    model.splitFirstLargeUnit = part.status == StatusStyle::kReadyBit;
    return model;
  }
  const uint8_t sizeExponent = model.idBytes[2];
  model.capacity = sizeExponent >= 0x10 && sizeExponent <= 0x18 ? 1u << sizeExponent : 2 * kMiB;
  if (config.capacity.has_value()) model.capacity = *config.capacity;
  model.erases = {{0x20, 4 * kKiB}, {0x52, 32 * kKiB}, {0xD8, 64 * kKiB}};
  model.writeStatusNs = kGenericWriteStatusNs;
  return model;
}

std::vector<uint32_t> knownPartsOfCapacity(uint32_t capacity) {
  std::vector<uint32_t> ids;
  if (capacity == 64 * kKiB) ids.push_back(kShortIdPart);
  for (const KnownPart& part : knownParts()) {
    if (part.capacity != capacity) continue;
    const uint32_t prefix = (uint32_t{part.manufacturer} << 16) | (uint32_t{part.device} << 8);
    switch (part.match) {
      case Match::kAnyThird:
        ids.push_back(prefix);
        break;
      case Match::kThirdEquals:
        ids.push_back(prefix | part.third);
        break;
      case Match::kFourthZero:
        ids.push_back(prefix);
        break;
      case Match::kFourthNonZero:
        ids.push_back((prefix << 8) | 0x01);
        break;
    }
  }
  return ids;
}

uint32_t partCapacity(const AdapterConfig& config) {
  return partModelFor(config).capacity;
}

bool validGenericCapacity(uint64_t bytes) {
  return bytes >= 64 * kKiB && bytes <= 16 * kMiB && (bytes & (bytes - 1)) == 0;
}

std::string formatJedecId(uint32_t jedecId) {
  char text[16];
  if (jedecId == kShortIdPart) {
    std::snprintf(text, sizeof text, "%04X", jedecId);
  } else if (jedecId > 0xFFFFFF) {
    std::snprintf(text, sizeof text, "%08X", jedecId);
  } else {
    std::snprintf(text, sizeof text, "%06X", jedecId);
  }
  return text;
}

}  // namespace hlv::sim
