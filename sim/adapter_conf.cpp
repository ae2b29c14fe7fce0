#include "sim/adapter_conf.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shared/hex_bytes.h"
#include "sim/flash_part_model.h"

namespace hlv::sim {
namespace {

std::string_view trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && blank(text.back()))
    text.remove_suffix(1);
  return text;
}

bool parseYesNo(std::string_view value, bool& out) {
  if (value == "yes") {
    out = true;
    return true;
  }
  if (value == "no") {
    out = false;
    return true;
  }
  return false;
}

bool parseRevision(std::string_view value, SfdpRevision& out) {
  if (value == "1.0") {
    out = SfdpRevision::k1_0;
    return true;
  }
  if (value == "1.6") {
    out = SfdpRevision::k1_6;
    return true;
  }
  return false;
}

bool parseFlashId(std::string_view value, uint32_t& out) {
  if (value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
    value.remove_prefix(2);
  }
  if (value.size() != 4 && value.size() != 6 && value.size() != 8) return false;
  uint32_t id = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), id, 16);
  if (ec != std::errc() || end != value.data() + value.size()) return false;
  if (value.size() == 4 && id != kShortIdPart) return false;
  out = id;
  return true;
}

bool parseCount(std::string_view value, uint64_t& out) {
  if (value.empty()) return false;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), out, 10);
  return ec == std::errc() && end == value.data() + value.size();
}

constexpr uint64_t kMaxConfiguredMicroseconds = 1000000;

bool parseMicroseconds(std::string_view value, uint64_t least, uint64_t& nanoseconds) {
  uint64_t us = 0;
  if (!parseCount(value, us) || us < least || us > kMaxConfiguredMicroseconds) return false;
  nanoseconds = us * 1000;
  return true;
}

std::string microseconds(uint64_t nanoseconds) {
  return std::to_string(nanoseconds / 1000);
}

// Decimal, or hexadecimal with 0x.
bool parseNumber(std::string_view value, uint64_t& out) {
  const bool hex = value.size() > 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X');
  if (hex) value.remove_prefix(2);
  if (value.empty()) return false;
  const auto [end, ec] =
      std::from_chars(value.data(), value.data() + value.size(), out, hex ? 16 : 10);
  return ec == std::errc() && end == value.data() + value.size();
}

bool parseWord(std::string_view value, uint32_t& out) {
  uint64_t number = 0;
  if (!parseNumber(value, number) || number > 0xFFFFFFFF) return false;
  out = static_cast<uint32_t>(number);
  return true;
}

bool parseFirmwareKind(std::string_view value, FirmwareKind& out) {
  if (value == "1") {
    out = FirmwareKind::kInterface1;
  } else if (value == "2") {
    out = FirmwareKind::kInterface2;
  } else if (value == "none") {
    out = FirmwareKind::kNone;
  } else {
    return false;
  }
  return true;
}

bool parseTornErase(std::string_view value, TornErase& out) {
  if (value == "bytes") {
    out = TornErase::kBytes;
  } else if (value == "bits") {
    out = TornErase::kBits;
  } else {
    return false;
  }
  return true;
}

constexpr std::pair<std::string_view, FlashFault> kFlashFaults[] = {
    {"ignored", FlashFault::kIgnored},
    {"wrong", FlashFault::kWrongBit},
    {"stuck", FlashFault::kStuck}};

bool parseFlashFault(std::string_view value, FlashFault& out) {
  for (const auto& [name, fault] : kFlashFaults) {
    if (value == name) {
      out = fault;
      return true;
    }
  }
  return false;
}

// free: the program may take it; held: the firmware takes it back whenever it is released.
bool parseSemaphore(std::string_view value, bool& heldByFirmware) {
  if (value != "free" && value != "held") return false;
  heldByFirmware = value == "held";
  return true;
}

// 64 hex digits, two per byte in memory order.
// The errno the kernel refuses the mapping with: EPERM as a locked-down kernel, EACCES as for a
// missing permission.
constexpr std::pair<std::string_view, int> kMappingRefusals[] = {
    {"no", 0}, {"eperm", EPERM}, {"eacces", EACCES}};

bool parseMappingRefusal(std::string_view value, int& error) {
  for (const auto& [name, code] : kMappingRefusals) {
    if (value == name) {
      error = code;
      return true;
    }
  }
  return false;
}

// The signals the test hooks may raise, by the names the configuration gives them.
constexpr std::pair<std::string_view, int> kTestSignals[] = {
    {"int", SIGINT}, {"term", SIGTERM}, {"hup", SIGHUP}, {"quit", SIGQUIT}};

bool parseTestSignal(std::string_view value, int& signalNumber) {
  for (const auto& [name, number] : kTestSignals) {
    if (value == name) {
      signalNumber = number;
      return true;
    }
  }
  return false;
}

bool parseDigest(std::string_view value, std::array<uint8_t, 32>& out) {
  const std::optional<std::vector<uint8_t>> bytes = parseHexBytes(value);
  if (!bytes || bytes->size() != out.size()) return false;
  std::copy(bytes->begin(), bytes->end(), out.begin());
  return true;
}

// One key of the file: how its value is read into a configuration, and how a configuration's
// value is written back (none: the key is left out, its value being the default).
struct Key {
  std::string_view name;
  std::string_view expected;  // what the value must look like, for the error message
  std::string_view example;   // a value other than the default
  std::function<bool(std::string_view, AdapterConfig&)> read;
  std::function<std::optional<std::string>(const AdapterConfig&)> write;
};

// Keys bound to one field of the configuration. `field` is a generic lambda giving the field of
// a configuration, const or not; the key is written when the field differs from its default.
template <class Field>
auto writeWhenChanged(Field field, std::function<std::string(const AdapterConfig&)> text) {
  return [field, text](const AdapterConfig& c) -> std::optional<std::string> {
    static const AdapterConfig defaults;
    if (field(c) == field(defaults)) return std::nullopt;
    return text(c);
  };
}

template <class Field>
Key yesNoKey(std::string_view name, std::string_view example, Field field) {
  return {name, "yes or no", example,
          [field](std::string_view v, AdapterConfig& c) { return parseYesNo(v, field(c)); },
          writeWhenChanged(field, [field](const AdapterConfig& c) {
            return std::string(field(c) ? "yes" : "no");
          })};
}

template <class Field>
Key countKey(std::string_view name, std::string_view example, Field field) {
  return {name, "a decimal count", example,
          [field](std::string_view v, AdapterConfig& c) { return parseCount(v, field(c)); },
          writeWhenChanged(field,
                           [field](const AdapterConfig& c) { return std::to_string(field(c)); })};
}

template <class Field>
Key microsecondsKey(std::string_view name, std::string_view expected, uint64_t least,
                    std::string_view example, Field field) {
  return {
      name, expected, example,
      [field, least](std::string_view v, AdapterConfig& c) {
        return parseMicroseconds(v, least, field(c));
      },
      writeWhenChanged(field, [field](const AdapterConfig& c) { return microseconds(field(c)); })};
}

template <class Field>
Key wordKey(std::string_view name, std::string_view example, Field field) {
  return {name, "a 32-bit number (decimal, or hex with 0x)", example,
          [field](std::string_view v, AdapterConfig& c) { return parseWord(v, field(c)); },
          writeWhenChanged(field, [field](const AdapterConfig& c) {
            char number[16];
            std::snprintf(number, sizeof number, "0x%X", field(c));
            return std::string(number);
          })};
}

template <class Field>
Key semaphoreKey(std::string_view name, Field field) {
  return {name, "free or held", "held",
          [field](std::string_view v, AdapterConfig& c) { return parseSemaphore(v, field(c)); },
          writeWhenChanged(field, [field](const AdapterConfig& c) {
            return std::string(field(c) ? "held" : "free");
          })};
}

// A name from a table of (name, value) pairs for a value; none when the table has no name for it.
template <std::size_t N>
std::optional<std::string> nameOf(const std::pair<std::string_view, int> (&names)[N], int value) {
  for (const auto& [name, number] : names) {
    if (number == value) return std::string(name);
  }
  return std::nullopt;
}

// The file's keys, in the order formatAdapterConf writes them.
const std::vector<Key>& keys() {
  static const std::vector<Key> table = {
      {"flash", "six or eight hex digits, or 651F", "C22016",
       [](std::string_view v, AdapterConfig& c) { return parseFlashId(v, c.jedecId); },
       // Always written: the file names its part.
       [](const AdapterConfig& c) { return std::optional(formatJedecId(c.jedecId)); }},
      {"capacity", "a power of two from 65536 to 16777216 (decimal, or hex with 0x)", "1048576",
       [](std::string_view v, AdapterConfig& c) {
         uint64_t bytes = 0;
         if (!parseNumber(v, bytes) || !validGenericCapacity(bytes)) return false;
         c.capacity = static_cast<uint32_t>(bytes);
         return true;
       },
       [](const AdapterConfig& c) -> std::optional<std::string> {
         // A known part's capacity is its own.
         if (!c.capacity.has_value() || partModelFor(c).known) return std::nullopt;
         return std::to_string(*c.capacity);
       }},
      {"sfdp", "yes, no, 1.0 or 1.6", "1.0",
       [](std::string_view v, AdapterConfig& c) {
         if (parseRevision(v, c.sfdpRevision)) {
           c.sfdp = true;
           return true;
         }
         return parseYesNo(v, c.sfdp);
       },
       // The revision goes with it: an area without a table has none.
       [](const AdapterConfig& c) -> std::optional<std::string> {
         if (!c.sfdp) return std::nullopt;
         return std::string(c.sfdpRevision == SfdpRevision::k1_0 ? "1.0" : "1.6");
       }},
      {"sfdp_revision", "1.0 or 1.6", "1.0",
       [](std::string_view v, AdapterConfig& c) { return parseRevision(v, c.sfdpRevision); },
       nullptr},  // written by sfdp
      yesNoKey(
          "sfdp_volatile_status", "yes",
          [](auto& c) -> auto& { return c.volatileStatusWriteEnable; }),
      yesNoKey(
          "protected", "yes", [](auto& c) -> auto& { return c.protectedAtPowerOn; }),
      {"power_cut_after", "a decimal count", "7",
       [](std::string_view v, AdapterConfig& c) {
         uint64_t n = 0;
         if (!parseCount(v, n)) return false;
         c.powerCutAfter = n;
         return true;
       },
       [](const AdapterConfig& c) -> std::optional<std::string> {
         if (!c.powerCutAfter) return std::nullopt;
         return std::to_string(*c.powerCutAfter);
       }},
      yesNoKey(
          "power_cut_torn", "yes", [](auto& c) -> auto& { return c.powerCutTorn; }),
      countKey(
          "seed", "1234", [](auto& c) -> auto& { return c.tornSeed; }),
      {"torn_erase", "bytes or bits", "bits",
       [](std::string_view v, AdapterConfig& c) { return parseTornErase(v, c.tornErase); },
       writeWhenChanged(
           [](auto& c) -> auto& { return c.tornErase; },
           [](const AdapterConfig& c) {
             return std::string(c.tornErase == TornErase::kBits ? "bits" : "bytes");
           })},
      countKey(
          "flash_fault_at", "3", [](auto& c) -> auto& { return c.flashFaultAt; }),
      {"flash_fault", "ignored, wrong or stuck", "stuck",
       [](std::string_view v, AdapterConfig& c) { return parseFlashFault(v, c.flashFault); },
       writeWhenChanged(
           [](auto& c) -> auto& { return c.flashFault; },
           [](const AdapterConfig& c) {
             for (const auto& [name, fault] : kFlashFaults) {
               if (fault == c.flashFault) return std::string(name);
             }
             return std::string();
           })},
      countKey(
          "kill_at_us", "4000", [](auto& c) -> auto& { return c.killAtUs; }),
      yesNoKey(
          "engine_stuck", "yes", [](auto& c) -> auto& { return c.engineStuck; }),
      yesNoKey(
          "part_stuck", "yes", [](auto& c) -> auto& { return c.partStuck; }),
      microsecondsKey(
          "engine_busy_us", "a decimal count of microseconds from 1 to 1000000", 1, "12",
          [](auto& c) -> auto& { return c.timings.engineTransferNs; }),
      microsecondsKey(
          "engine_jitter_us", "a decimal count of microseconds from 0 to 1000000", 0, "5",
          [](auto& c) -> auto& { return c.timings.engineJitterNs; }),
      countKey(
          "engine_seed", "99", [](auto& c) -> auto& { return c.timings.engineJitterSeed; }),
      microsecondsKey(
          "firmware_reset_latency_us", "a decimal count of microseconds from 0 to 1000000", 0,
          "2500", [](auto& c) -> auto& { return c.timings.firmwareResetLatencyNs; }),
      microsecondsKey(
          "firmware_reset_jitter_us", "a decimal count of microseconds from 0 to 1000000", 0, "700",
          [](auto& c) -> auto& { return c.timings.firmwareResetJitterNs; }),
      countKey(
          "firmware_reset_seed", "42",
          [](auto& c) -> auto& { return c.timings.firmwareResetJitterSeed; }),
      microsecondsKey(
          "firmware_mdio_every_us", "a decimal count of microseconds from 0 to 1000000", 0, "0",
          [](auto& c) -> auto& { return c.timings.firmwareMdioEveryNs; }),
      countKey(
          "firmware_mdio_seed", "9", [](auto& c) -> auto& { return c.timings.firmwareMdioSeed; }),
      {"firmware", "1, 2 or none", "2",
       [](std::string_view v, AdapterConfig& c) { return parseFirmwareKind(v, c.firmware.kind); },
       writeWhenChanged(
           [](auto& c) -> auto& { return c.firmware.kind; },
           [](const AdapterConfig& c) {
             return std::string(c.firmware.kind == FirmwareKind::kNone         ? "none"
                                : c.firmware.kind == FirmwareKind::kInterface2 ? "2"
                                                                               : "1");
           })},
      yesNoKey(
          "firmware_stuck", "yes", [](auto& c) -> auto& { return c.firmware.stuck; }),
      yesNoKey(
          "phy", "no", [](auto& c) -> auto& { return c.firmware.phy; }),
      {"phy_address", "0 to 31", "7",
       [](std::string_view v, AdapterConfig& c) {
         uint64_t address = 0;
         if (!parseNumber(v, address) || address > 31) return false;
         c.firmware.phyAddress = static_cast<uint8_t>(address);
         return true;
       },
       writeWhenChanged(
           [](auto& c) -> auto& { return c.firmware.phyAddress; },
           [](const AdapterConfig& c) { return std::to_string(c.firmware.phyAddress); })},
      yesNoKey(
          "phy_stuck", "yes", [](auto& c) -> auto& { return c.firmware.phyStuck; }),
      wordKey(
          "chip_revision", "0x10A", [](auto& c) -> auto& { return c.firmware.chipRevision; }),
      wordKey(
          "fuse_status", "0x1000", [](auto& c) -> auto& { return c.firmware.fuseStatus; }),
      {"fuse_digest", "64 hex digits",
       "0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20",
       [](std::string_view v, AdapterConfig& c) { return parseDigest(v, c.firmware.fuseDigest); },
       writeWhenChanged(
           [](auto& c) -> auto& { return c.firmware.fuseDigest; },
           [](const AdapterConfig& c) {
             std::string text;
             char number[4];
             for (uint8_t byte : c.firmware.fuseDigest) {
               std::snprintf(number, sizeof number, "%02x", byte);
               text += number;
             }
             return text;
           })},
      semaphoreKey(
          "mdio_semaphore", [](auto& c) -> auto& { return c.firmware.mdioSemaphoreHeld; }),
      semaphoreKey(
          "fuse_semaphore", [](auto& c) -> auto& { return c.firmware.fuseSemaphoreHeld; }),
      countKey(
          "interrupt_at_grant", "3", [](auto& c) -> auto& { return c.firmware.interruptAtGrant; }),
      {"signal", "int, term, hup or quit", "term",
       [](std::string_view v, AdapterConfig& c) { return parseTestSignal(v, c.testSignal); },
       [](const AdapterConfig& c) -> std::optional<std::string> {
         if (c.testSignal == AdapterConfig{}.testSignal) return std::nullopt;
         return nameOf(kTestSignals, c.testSignal);
       }},
      countKey(
          "signal_at_command", "77", [](auto& c) -> auto& { return c.signalAtCommand; }),
      countKey(
          "signal_at_us", "900", [](auto& c) -> auto& { return c.signalAtUs; }),
      {"map_refused", "no, eperm or eacces", "eperm",
       [](std::string_view v, AdapterConfig& c) {
         return parseMappingRefusal(v, c.mappingRefusal);
       },
       [](const AdapterConfig& c) -> std::optional<std::string> {
         if (c.mappingRefusal == 0) return std::nullopt;
         return nameOf(kMappingRefusals, c.mappingRefusal);
       }},
  };
  return table;
}

}  // namespace

Result<> parseAdapterConf(std::string_view text, AdapterConfig& config) {
  unsigned lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    const std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    line = trim(line);
    if (line.empty()) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return fail("line " + std::to_string(lineNumber) + ": expected 'key = value', got '" +
                  std::string(line) + "'");
    }
    const std::string_view name = trim(line.substr(0, equals));
    const std::string_view value = trim(line.substr(equals + 1));
    const Key* key = nullptr;
    for (const Key& candidate : keys()) {
      if (candidate.name == name) key = &candidate;
    }
    if (key == nullptr) {
      return fail("line " + std::to_string(lineNumber) + ": unknown key '" + std::string(name) +
                  "'");
    }
    if (!key->read(value, config)) {
      return fail("line " + std::to_string(lineNumber) + ": bad value '" + std::string(value) +
                  "' for " + std::string(name) + " (expected " + std::string(key->expected) + ")");
    }
  }
  if (config.capacity.has_value() && partModelFor(config).known &&
      partModelFor(config).capacity != *config.capacity) {
    return fail("capacity " + std::to_string(*config.capacity) + " does not fit the part " +
                formatJedecId(config.jedecId) + ", whose capacity is fixed (" +
                std::to_string(partModelFor(config).capacity) + " bytes)");
  }
  if (config.protectedAtPowerOn && !partModelFor(config).usesWriteEnable()) {
    // Such a part has no status write: the program could never unlock it, and a lab built
    // with it could never be written.
    return fail("protected = yes on the part " + formatJedecId(config.jedecId) +
                ", which reports ready in bit 7 of its status and has no status write: nothing "
                "could ever unlock it");
  }
  return {};
}

std::string formatAdapterConf(const AdapterConfig& config) {
  std::string text;
  for (const Key& key : keys()) {
    if (!key.write) continue;
    if (const std::optional<std::string> value = key.write(config))
      text += std::string(key.name) + " = " + *value + "\n";
  }
  return text;
}

std::vector<AdapterConfKey> adapterConfKeys() {
  std::vector<AdapterConfKey> names;
  for (const Key& key : keys())
    names.push_back({key.name, key.example, key.write != nullptr});
  return names;
}

}  // namespace hlv::sim
