#include "sim/flash_part_model.h"

#include <cstdio>

namespace hlv::sim {
namespace {

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * 1024;

enum class Match : uint8_t { kShortId, kAnyThird, kThirdEquals, kFourthZero, kFourthNonZero };

// One known part: the identification bytes it answers with and what it is physically.
struct KnownPart {
  const char* name;  // its identification as the lab writes it
  uint8_t manufacturer;
  uint8_t device;
  Match match;
  uint8_t third;  // for kThirdEquals
  uint32_t capacity;
  uint32_t pageSize;
  StatusStyle status;
  std::vector<EraseCommand> erases;
  uint32_t firstUnitSplit;  // see FlashPartModel; 0: not split
  uint64_t writeStatusNs;   // typical status register write; 0: the part has none
};

constexpr uint64_t kMs = 1000000;
// The ready-bit parts take no status write.
constexpr uint64_t kNoStatusWrite = 0;
constexpr uint32_t kNotSplit = 0;
// Parts the identification table does not know.
constexpr uint64_t kGenericWriteStatusNs = 10 * kMs;

// The parts as a data sheet gives them. The flash layer keeps its own table of what it drives
// them with; a test holds the two against each other row by row, so that neither can drift.
const std::vector<KnownPart>& knownParts() {
  using enum StatusStyle;
  using enum Match;
  const std::vector<EraseCommand> none;
  const std::vector<EraseCommand> blockOnly = {{0xD8, 64 * kKiB}};
  const std::vector<EraseCommand> standard = {{0x20, 4 * kKiB}, {0xD8, 64 * kKiB}};
  const std::vector<EraseCommand> readyBit2k = {{0x50, 2 * kKiB}, {0x7C, 64 * kKiB}};
  const std::vector<EraseCommand> readyBit4k = {{0x50, 4 * kKiB}, {0x7C, 64 * kKiB}};
  // Status write times: the typical figure of each part's class, 5 to 15 ms. The ready-bit parts
  // split their 64 KiB unit at 0 after eight pages.
  static const std::vector<KnownPart> parts = {
      // A small part from before the JEDEC identification: 128-byte pages, no erase commands.
      {"651F", 0x1F, 0x65, kShortId, 0, 64 * kKiB, 128, kStatusRegister, none, kNotSplit, 5 * kMs},
      {"1F2400", 0x1F, 0x24, kFourthZero, 0, 512 * kKiB, 256, kReadyBit, readyBit2k, 2 * kKiB,
       kNoStatusWrite},
      {"1F240001", 0x1F, 0x24, kFourthNonZero, 0, 512 * kKiB, 256, kReadyBit, readyBit2k, 2 * kKiB,
       kNoStatusWrite},
      {"1F43xx", 0x1F, 0x43, kAnyThird, 0, 256 * kKiB, 256, kStatusRegister, none, kNotSplit,
       8 * kMs},
      {"1F44xx", 0x1F, 0x44, kAnyThird, 0, 512 * kKiB, 256, kStatusRegister, standard, kNotSplit,
       8 * kMs},
      {"1F27xx", 0x1F, 0x27, kAnyThird, 0, 4 * kMiB, 512, kReadyBit, readyBit4k, 4 * kKiB,
       kNoStatusWrite},
      {"202010", 0x20, 0x20, kThirdEquals, 0x10, 64 * kKiB, 256, kStatusRegister, none, kNotSplit,
       5 * kMs},
      {"202013", 0x20, 0x20, kThirdEquals, 0x13, 512 * kKiB, 256, kStatusRegister, blockOnly,
       kNotSplit, 5 * kMs},
      {"C22013", 0xC2, 0x20, kThirdEquals, 0x13, 512 * kKiB, 256, kStatusRegister, standard,
       kNotSplit, 15 * kMs},
      {"C22313", 0xC2, 0x23, kThirdEquals, 0x13, 512 * kKiB, 256, kStatusRegister, standard,
       kNotSplit, 15 * kMs},
      {"C22016", 0xC2, 0x20, kThirdEquals, 0x16, 4 * kMiB, 256, kStatusRegister, standard,
       kNotSplit, 15 * kMs},
      {"EF4016", 0xEF, 0x40, kThirdEquals, 0x16, 4 * kMiB, 256, kStatusRegister, standard,
       kNotSplit, 10 * kMs},
      {"EF6015", 0xEF, 0x60, kThirdEquals, 0x15, 2 * kMiB, 256, kStatusRegister, standard,
       kNotSplit, 10 * kMs},
      {"EF3013", 0xEF, 0x30, kThirdEquals, 0x13, 512 * kKiB, 256, kStatusRegister, standard,
       kNotSplit, 10 * kMs},
      {"014016", 0x01, 0x40, kThirdEquals, 0x16, 4 * kMiB, 256, kStatusRegister, standard,
       kNotSplit, 5 * kMs},
  };
  return parts;
}

bool matches(const KnownPart& part, const std::vector<uint8_t>& id, bool shortId) {
  if (shortId != (part.match == Match::kShortId)) return false;
  if (id[0] != part.manufacturer || id[1] != part.device) return false;
  switch (part.match) {
    case Match::kShortId:
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
  model.shortId = config.jedecId == kShortIdPart;
  model.idBytes = model.shortId ? std::vector<uint8_t>{0x1F, 0x65} : jedecBytes(config.jedecId);
  for (const KnownPart& part : knownParts()) {
    if (!matches(part, model.idBytes, model.shortId)) continue;
    model.name = part.name;
    model.known = true;
    model.capacity = part.capacity;
    model.pageSize = part.pageSize;
    model.status = part.status;
    model.erases = part.erases;
    model.firstUnitSplit = part.firstUnitSplit;
    model.writeStatusNs = part.writeStatusNs;
    return model;
  }
  const uint8_t sizeExponent = model.idBytes[2];
  model.capacity = sizeExponent >= 0x10 && sizeExponent <= 0x18 ? 1u << sizeExponent : 2 * kMiB;
  if (config.capacity.has_value()) model.capacity = *config.capacity;
  model.erases = {{0x20, 4 * kKiB}, {0x52, 32 * kKiB}, {0xD8, 64 * kKiB}};
  model.writeStatusNs = kGenericWriteStatusNs;
  return model;
}

std::vector<uint32_t> knownPartIdentifications() {
  std::vector<uint32_t> ids;
  for (const KnownPart& part : knownParts()) {
    const uint32_t prefix = (uint32_t{part.manufacturer} << 16) | (uint32_t{part.device} << 8);
    switch (part.match) {
      case Match::kShortId:
        ids.push_back(kShortIdPart);
        break;
      case Match::kAnyThird:
      case Match::kFourthZero:
        ids.push_back(prefix);
        break;
      case Match::kThirdEquals:
        ids.push_back(prefix | part.third);
        break;
      case Match::kFourthNonZero:
        ids.push_back((prefix << 8) | 0x01);
        break;
    }
  }
  return ids;
}

std::vector<uint32_t> knownPartsOfCapacity(uint32_t capacity) {
  std::vector<uint32_t> ids;
  for (const uint32_t id : knownPartIdentifications()) {
    AdapterConfig config;
    config.jedecId = id;
    if (partCapacity(config) == capacity) ids.push_back(id);
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
