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
bool parseMappingRefusal(std::string_view value, int& error) {
  constexpr std::pair<std::string_view, int> kRefusals[] = {
      {"no", 0}, {"eperm", EPERM}, {"eacces", EACCES}};
  for (const auto& [name, code] : kRefusals) {
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

struct Key {
  std::string_view name;
  std::string_view expected;  // what the value must look like, for the error message
  std::function<bool(std::string_view, AdapterConfig&)> apply;
};

const std::vector<Key>& keys() {
  static const std::vector<Key> table = {
      {"flash", "six or eight hex digits, or 651F",
       [](std::string_view v, AdapterConfig& c) { return parseFlashId(v, c.jedecId); }},
      {"capacity", "a power of two from 65536 to 16777216 (decimal, or hex with 0x)",
       [](std::string_view v, AdapterConfig& c) {
         uint64_t bytes = 0;
         if (!parseNumber(v, bytes) || !validGenericCapacity(bytes)) return false;
         c.capacity = static_cast<uint32_t>(bytes);
         return true;
       }},
      {"sfdp", "yes, no, 1.0 or 1.6",
       [](std::string_view v, AdapterConfig& c) {
         if (parseRevision(v, c.sfdpRevision)) {
           c.sfdp = true;
           return true;
         }
         return parseYesNo(v, c.sfdp);
       }},
      {"sfdp_revision", "1.0 or 1.6",
       [](std::string_view v, AdapterConfig& c) { return parseRevision(v, c.sfdpRevision); }},
      {"sfdp_volatile_status", "yes or no",
       [](std::string_view v, AdapterConfig& c) {
         return parseYesNo(v, c.volatileStatusWriteEnable);
       }},
      {"protected", "yes or no",
       [](std::string_view v, AdapterConfig& c) { return parseYesNo(v, c.protectedAtPowerOn); }},
      {"power_cut_after", "a decimal count",
       [](std::string_view v, AdapterConfig& c) {
         uint64_t n = 0;
         if (!parseCount(v, n)) return false;
         c.powerCutAfter = n;
         return true;
       }},
      {"power_cut_torn", "yes or no",
       [](std::string_view v, AdapterConfig& c) { return parseYesNo(v, c.powerCutTorn); }},
      {"seed", "a decimal count",
       [](std::string_view v, AdapterConfig& c) { return parseCount(v, c.tornSeed); }},
      {"torn_erase", "bytes or bits",
       [](std::string_view v, AdapterConfig& c) { return parseTornErase(v, c.tornErase); }},
      {"flash_fault_at", "a decimal count",
       [](std::string_view v, AdapterConfig& c) { return parseCount(v, c.flashFaultAt); }},
      {"flash_fault", "ignored, wrong or stuck",
       [](std::string_view v, AdapterConfig& c) { return parseFlashFault(v, c.flashFault); }},
      {"kill_at_us", "a decimal count",
       [](std::string_view v, AdapterConfig& c) { return parseCount(v, c.killAtUs); }},
      {"engine_stuck", "yes or no",
       [](std::string_view v, AdapterConfig& c) { return parseYesNo(v, c.engineStuck); }},
      {"part_stuck", "yes or no",
       [](std::string_view v, AdapterConfig& c) { return parseYesNo(v, c.partStuck); }},
      {"engine_busy_us", "a decimal count of microseconds from 1 to 1000000",
       [](std::string_view v, AdapterConfig& c) {
         return parseMicroseconds(v, 1, c.timings.engineTransferNs);
       }},
      {"engine_jitter_us", "a decimal count of microseconds from 0 to 1000000",
       [](std::string_view v, AdapterConfig& c) {
         return parseMicroseconds(v, 0, c.timings.engineJitterNs);
       }},
      {"engine_seed", "a decimal count",
       [](std::string_view v, AdapterConfig& c) {
         return parseCount(v, c.timings.engineJitterSeed);
       }},
      {"firmware_reset_latency_us", "a decimal count of microseconds from 0 to 1000000",
       [](std::string_view v, AdapterConfig& c) {
         return parseMicroseconds(v, 0, c.timings.firmwareResetLatencyNs);
       }},
      {"firmware_reset_jitter_us", "a decimal count of microseconds from 0 to 1000000",
       [](std::string_view v, AdapterConfig& c) {
         return parseMicroseconds(v, 0, c.timings.firmwareResetJitterNs);
       }},
      {"firmware_reset_seed", "a decimal count",
       [](std::string_view v, AdapterConfig& c) {
         return parseCount(v, c.timings.firmwareResetJitterSeed);
       }},
      {"firmware_mdio_every_us", "a decimal count of microseconds from 0 to 1000000",
       [](std::string_view v, AdapterConfig& c) {
         return parseMicroseconds(v, 0, c.timings.firmwareMdioEveryNs);
       }},
      {"firmware_mdio_seed", "a decimal count",
       [](std::string_view v, AdapterConfig& c) {
         return parseCount(v, c.timings.firmwareMdioSeed);
       }},
      {"firmware", "1, 2 or none",
       [](std::string_view v, AdapterConfig& c) { return parseFirmwareKind(v, c.firmware.kind); }},
      {"firmware_stuck", "yes or no",
       [](std::string_view v, AdapterConfig& c) { return parseYesNo(v, c.firmware.stuck); }},
      {"phy", "yes or no",
       [](std::string_view v, AdapterConfig& c) { return parseYesNo(v, c.firmware.phy); }},
      {"phy_address", "0 to 31",
       [](std::string_view v, AdapterConfig& c) {
         uint64_t address = 0;
         if (!parseNumber(v, address) || address > 31) return false;
         c.firmware.phyAddress = static_cast<uint8_t>(address);
         return true;
       }},
      {"phy_stuck", "yes or no",
       [](std::string_view v, AdapterConfig& c) { return parseYesNo(v, c.firmware.phyStuck); }},
      {"chip_revision", "a 32-bit number (decimal, or hex with 0x)",
       [](std::string_view v, AdapterConfig& c) { return parseWord(v, c.firmware.chipRevision); }},
      {"fuse_status", "a 32-bit number (decimal, or hex with 0x)",
       [](std::string_view v, AdapterConfig& c) { return parseWord(v, c.firmware.fuseStatus); }},
      {"fuse_digest", "64 hex digits",
       [](std::string_view v, AdapterConfig& c) { return parseDigest(v, c.firmware.fuseDigest); }},
      {"mdio_semaphore", "free or held",
       [](std::string_view v, AdapterConfig& c) {
         return parseSemaphore(v, c.firmware.mdioSemaphoreHeld);
       }},
      {"fuse_semaphore", "free or held",
       [](std::string_view v, AdapterConfig& c) {
         return parseSemaphore(v, c.firmware.fuseSemaphoreHeld);
       }},
      {"interrupt_at_grant", "a decimal count",
       [](std::string_view v, AdapterConfig& c) {
         return parseCount(v, c.firmware.interruptAtGrant);
       }},
      {"signal", "int, term, hup or quit",
       [](std::string_view v, AdapterConfig& c) { return parseTestSignal(v, c.testSignal); }},
      {"signal_at_command", "a decimal count",
       [](std::string_view v, AdapterConfig& c) { return parseCount(v, c.signalAtCommand); }},
      {"signal_at_us", "a decimal count",
       [](std::string_view v, AdapterConfig& c) { return parseCount(v, c.signalAtUs); }},
      {"map_refused", "no, eperm or eacces",
       [](std::string_view v, AdapterConfig& c) {
         return parseMappingRefusal(v, c.mappingRefusal);
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
    if (!key->apply(value, config)) {
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
  std::string text = "flash = " + formatJedecId(config.jedecId) + "\n";
  if (config.capacity.has_value() && !partModelFor(config).known) {
    text += "capacity = " + std::to_string(*config.capacity) + "\n";
  }
  if (config.sfdp) {
    text +=
        std::string("sfdp = ") + (config.sfdpRevision == SfdpRevision::k1_0 ? "1.0" : "1.6") + "\n";
  }
  if (config.volatileStatusWriteEnable) text += "sfdp_volatile_status = yes\n";
  if (config.protectedAtPowerOn) text += "protected = yes\n";
  if (config.powerCutAfter)
    text += "power_cut_after = " + std::to_string(*config.powerCutAfter) + "\n";
  if (config.powerCutTorn) text += "power_cut_torn = yes\n";
  if (config.tornSeed != AdapterConfig{}.tornSeed)
    text += "seed = " + std::to_string(config.tornSeed) + "\n";
  if (config.tornErase == TornErase::kBits) text += "torn_erase = bits\n";
  if (config.flashFaultAt != 0) {
    text += "flash_fault_at = " + std::to_string(config.flashFaultAt) + "\n";
    for (const auto& [name, fault] : kFlashFaults) {
      if (fault == config.flashFault) text += "flash_fault = " + std::string(name) + "\n";
    }
  }
  if (config.killAtUs != 0) text += "kill_at_us = " + std::to_string(config.killAtUs) + "\n";
  if (config.engineStuck) text += "engine_stuck = yes\n";
  if (config.partStuck) text += "part_stuck = yes\n";
  const AdapterTimings defaultTimings;
  if (config.timings.engineTransferNs != defaultTimings.engineTransferNs)
    text += "engine_busy_us = " + microseconds(config.timings.engineTransferNs) + "\n";
  if (config.timings.engineJitterNs != defaultTimings.engineJitterNs)
    text += "engine_jitter_us = " + microseconds(config.timings.engineJitterNs) + "\n";
  if (config.timings.engineJitterSeed != defaultTimings.engineJitterSeed)
    text += "engine_seed = " + std::to_string(config.timings.engineJitterSeed) + "\n";
  if (config.timings.firmwareResetLatencyNs != defaultTimings.firmwareResetLatencyNs) {
    text += "firmware_reset_latency_us = " + microseconds(config.timings.firmwareResetLatencyNs) +
            "\n";
  }
  if (config.timings.firmwareResetJitterNs != defaultTimings.firmwareResetJitterNs) {
    text += "firmware_reset_jitter_us = " + microseconds(config.timings.firmwareResetJitterNs) +
            "\n";
  }
  if (config.timings.firmwareResetJitterSeed != defaultTimings.firmwareResetJitterSeed) {
    text += "firmware_reset_seed = " + std::to_string(config.timings.firmwareResetJitterSeed) +
            "\n";
  }
  if (config.timings.firmwareMdioEveryNs != defaultTimings.firmwareMdioEveryNs)
    text += "firmware_mdio_every_us = " + microseconds(config.timings.firmwareMdioEveryNs) + "\n";
  if (config.timings.firmwareMdioSeed != defaultTimings.firmwareMdioSeed)
    text += "firmware_mdio_seed = " + std::to_string(config.timings.firmwareMdioSeed) + "\n";
  const FirmwareConfig& firmware = config.firmware;
  const FirmwareConfig defaults;
  if (firmware.kind != defaults.kind) {
    text += std::string("firmware = ") +
            (firmware.kind == FirmwareKind::kNone         ? "none"
             : firmware.kind == FirmwareKind::kInterface2 ? "2"
                                                          : "1") +
            "\n";
  }
  if (firmware.stuck) text += "firmware_stuck = yes\n";
  if (!firmware.phy) text += "phy = no\n";
  if (firmware.phyAddress != defaults.phyAddress)
    text += "phy_address = " + std::to_string(firmware.phyAddress) + "\n";
  if (firmware.phyStuck) text += "phy_stuck = yes\n";
  char number[16];
  if (firmware.chipRevision != defaults.chipRevision) {
    std::snprintf(number, sizeof number, "0x%X", firmware.chipRevision);
    text += std::string("chip_revision = ") + number + "\n";
  }
  if (firmware.fuseStatus != defaults.fuseStatus) {
    std::snprintf(number, sizeof number, "0x%X", firmware.fuseStatus);
    text += std::string("fuse_status = ") + number + "\n";
  }
  if (firmware.fuseDigest != defaults.fuseDigest) {
    text += "fuse_digest = ";
    for (uint8_t byte : firmware.fuseDigest) {
      std::snprintf(number, sizeof number, "%02x", byte);
      text += number;
    }
    text += "\n";
  }
  if (firmware.mdioSemaphoreHeld) text += "mdio_semaphore = held\n";
  if (firmware.fuseSemaphoreHeld) text += "fuse_semaphore = held\n";
  if (firmware.interruptAtGrant != 0)
    text += "interrupt_at_grant = " + std::to_string(firmware.interruptAtGrant) + "\n";
  for (const auto& [name, number] : kTestSignals) {
    if (number == config.testSignal && number != SIGINT)
      text += "signal = " + std::string(name) + "\n";
  }
  if (config.signalAtCommand != 0)
    text += "signal_at_command = " + std::to_string(config.signalAtCommand) + "\n";
  if (config.signalAtUs != 0) text += "signal_at_us = " + std::to_string(config.signalAtUs) + "\n";
  if (config.mappingRefusal == EPERM) text += "map_refused = eperm\n";
  if (config.mappingRefusal == EACCES) text += "map_refused = eacces\n";
  return text;
}

}  // namespace hlv::sim
