#include "tools/hlvimage/image_description.h"

#include <charconv>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#include "shared/hex_bytes.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::image {

namespace {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string byteCount(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::vector<std::string_view> words(std::string_view text) {
  std::vector<std::string_view> result;
  std::size_t at = 0;
  while (at < text.size()) {
    const auto start = text.find_first_not_of(" \t,", at);
    if (start == std::string_view::npos) break;
    auto end = text.find_first_of(" \t,", start);
    if (end == std::string_view::npos) end = text.size();
    result.push_back(text.substr(start, end - start));
    at = end;
  }
  return result;
}

std::optional<uint64_t> parseNumber(std::string_view text) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<uint32_t> parseU32(std::string_view text, uint64_t max = UINT32_MAX) {
  const auto value = parseNumber(text);
  if (!value || *value > max) return std::nullopt;
  return static_cast<uint32_t>(*value);
}

std::optional<bool> parseBool(std::string_view text) {
  if (text == "yes" || text == "true" || text == "1") return true;
  if (text == "no" || text == "false" || text == "0") return false;
  return std::nullopt;
}

std::optional<FirmwareVersion> parseVersion(std::string_view text) {
  const auto firstDot = text.find('.');
  const auto secondDot = text.find('.', firstDot == std::string_view::npos ? 0 : firstDot + 1);
  if (firstDot == std::string_view::npos || secondDot == std::string_view::npos) return {};
  const auto major = parseU32(text.substr(0, firstDot));
  const auto minor = parseU32(text.substr(firstDot + 1, secondDot - firstDot - 1));
  const auto build = parseU32(text.substr(secondDot + 1));
  if (!major || !minor || !build) return std::nullopt;
  return FirmwareVersion{*major, *minor, *build};
}

// Hex digits that blanks and commas may separate.
std::optional<std::vector<uint8_t>> parseSeparatedHexBytes(std::string_view text) {
  std::string digits;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != ',') digits.push_back(c);
  }
  return parseHexBytes(digits);
}

// "OFFSET HEXBYTES"
std::optional<Poke> parsePoke(std::string_view text) {
  const auto space = text.find_first_of(" \t");
  if (space == std::string_view::npos) return std::nullopt;
  const auto offset = parseU32(text.substr(0, space));
  const auto bytes = parseSeparatedHexBytes(trim(text.substr(space)));
  if (!offset || !bytes || bytes->empty()) return std::nullopt;
  return Poke{*offset, *bytes};
}

std::optional<NcbState> parseState(std::string_view text) {
  if (text == "active") return NcbState::kActive;
  if (text == "active01") return NcbState::kActiveAlternate;
  if (text == "inactive") return NcbState::kNotActive;
  if (text == "deactivated") return NcbState::kDeactivated;
  return std::nullopt;
}

std::optional<CrcSpec> parseCrc(std::string_view text) {
  CrcSpec crc;
  if (text == "good") return crc;
  if (text == "bad") {
    crc.kind = CrcSpec::Kind::kBad;
    return crc;
  }
  const auto value = parseU32(text, 0xFFFF);
  if (!value) return std::nullopt;
  crc.kind = CrcSpec::Kind::kValue;
  crc.value = static_cast<uint16_t>(*value);
  return crc;
}

std::optional<AreaSpec> parseArea(std::string_view text, AreaSpec area) {
  if (text == "none") {
    area.kind = AreaSpec::Kind::kNone;
    return area;
  }
  if (text == "record") {
    area.kind = AreaSpec::Kind::kRecord;
    return area;
  }
  if (text.starts_with("bytes")) {
    const auto bytes = parseSeparatedHexBytes(trim(text.substr(5)));
    if (!bytes) return std::nullopt;
    area.kind = AreaSpec::Kind::kBytes;
    area.bytes = *bytes;
    return area;
  }
  const auto length = parseU32(text, 0xFFFF);
  if (!length) return std::nullopt;
  area.kind = *length == 0 ? AreaSpec::Kind::kNone : AreaSpec::Kind::kFilled;
  area.length = static_cast<uint16_t>(*length);
  return area;
}

const std::map<std::string_view, std::size_t> kComponentKeys = {
    {"mac1", 0}, {"mac2", 1}, {"phy1", 2}, {"phy2", 3}, {"rom", 4}};
const std::map<std::string_view, NcbArea> kAreaKeys = {
    {"area_a", NcbArea::kA}, {"area_b", NcbArea::kB}, {"area_c", NcbArea::kC},
    {"area_d", NcbArea::kD}, {"area_e", NcbArea::kE}, {"area_f", NcbArea::kF}};

// Applies one key of a control block; an empty string on success, else what is wrong.
std::string applyNcbKey(NcbSpec& ncb, std::string_view key, std::string_view value) {
  const std::string bad = "bad value '" + std::string(value) + "' for " + std::string(key);
  auto setU32 = [&](uint32_t& target, uint64_t max = UINT32_MAX) {
    const auto number = parseU32(value, max);
    if (!number) return bad;
    target = *number;
    return std::string();
  };

  if (key == "state") {
    if (value == "erased") {
      ncb.erased = true;
      return {};
    }
    const auto state = parseState(value);
    if (!state) return bad;
    ncb.erased = false;
    ncb.state = *state;
    return {};
  }
  if (key == "bank") {
    if (value == "own")
      ncb.bank = Bank::kOwn;
    else if (value == "other")
      ncb.bank = Bank::kOther;
    else if (value == "A" || value == "a")
      ncb.bank = Bank::kA;
    else if (value == "B" || value == "b")
      ncb.bank = Bank::kB;
    else
      return bad;
    return {};
  }
  if (key == "layout") {
    // Type 1: the components in the other block's bank, the block's own bank free.
    if (value == "type1") {
      ncb.bank = Bank::kOther;
      ncb.freeArea.reset();
      ncb.freeAreaOtherBank = true;
    } else if (value == "type2") {
      ncb.bank = Bank::kOwn;
      ncb.freeAreaOtherBank = false;
      ncb.freeArea.reset();
    } else {
      return bad;
    }
    return {};
  }
  if (key == "version" || key == "settings_version") {
    const auto version = parseVersion(value);
    if (!version) return bad;
    if (key == "version") {
      ncb.firmware.version = *version;
    } else {
      ncb.firmware.settingsWords.emplace_back(firmware_header::kVersionWord,
                                              settingsVersionWord(*version));
    }
    return {};
  }
  if (key == "header_offset") return setU32(ncb.firmware.headerOffset);
  if (key == "settings_offset") return setU32(ncb.firmware.settingsOffset);
  if (key == "settings_word") {
    const auto parts = words(value);
    if (parts.size() != 2) return bad;
    const auto index = parseU32(parts[0], 127);
    const auto word = parseU32(parts[1]);
    if (!index || !word) return bad;
    ncb.firmware.settingsWords.emplace_back(*index, *word);
    return {};
  }
  if (key == "patch") {
    const auto parts = words(value);
    if (parts.size() != 3) return bad;
    const auto index = parseU32(parts[0]);
    const auto mask = parseU32(parts[1]);
    const auto word = parseU32(parts[2]);
    if (!index || !mask || !word) return bad;
    ncb.firmware.patches.push_back({*index, *mask, *word});
    return {};
  }
  if (key == "patch_offset") return setU32(ncb.firmware.patchOffset);
  if (key == "patch_length") {
    uint32_t length = 0;
    if (!setU32(length, 0xFFFF).empty()) return bad;
    ncb.firmware.patchLength = static_cast<uint16_t>(length);
    return {};
  }
  if (key == "patch_bytes") {
    const auto bytes = parseSeparatedHexBytes(value);
    if (!bytes) return bad;
    ncb.firmware.patchBytes = *bytes;
    return {};
  }
  if (key == "key") {
    const auto flag = parseBool(value);
    if (!flag) return bad;
    ncb.firmware.keyBlock = *flag;
    return {};
  }
  for (const auto& [name, index] : kComponentKeys) {
    if (key == std::string(name) + "_size") return setU32(ncb.sizes[index], 0xFFFFFF);
    if (key == std::string(name) + "_offset") {
      uint32_t offset = 0;
      if (!setU32(offset, 0xFFFFFF).empty()) return bad;
      ncb.offsets[index] = offset;
      return {};
    }
  }
  if (key == "seed") return setU32(ncb.seed);
  if (key == "crc" || key == "mac_crc" || key == "phy_crc" || key == "rom_crc") {
    const auto crc = parseCrc(value);
    if (!crc) return bad;
    (key == "crc"       ? ncb.ncbCrc
     : key == "mac_crc" ? ncb.macCrc
     : key == "phy_crc" ? ncb.phyCrc
                        : ncb.romCrc) = *crc;
    return {};
  }
  if (key == "size") {
    uint32_t size = 0;
    if (!setU32(size, 0xFFFF).empty()) return bad;
    ncb.sizeField = static_cast<uint16_t>(size);
    return {};
  }
  for (const auto& [name, which] : kAreaKeys) {
    AreaSpec& area = ncb.areas[static_cast<std::size_t>(which)];
    if (key == name) {
      const auto parsed = parseArea(value, area);
      if (!parsed) return bad;
      area = *parsed;
      return {};
    }
    if (key == std::string(name) + "_offset" || key == std::string(name) + "_length") {
      uint32_t field = 0;
      if (!setU32(field, 0xFFFF).empty()) return bad;
      (key.ends_with("_offset") ? area.offsetField : area.lengthField) =
          static_cast<uint16_t>(field);
      return {};
    }
  }
  if (key == "area_d_flag" || key == "area_e_flag") {
    const auto flag = parseBool(value);
    if (!flag) return bad;
    (key == "area_d_flag" ? ncb.areaDFlag : ncb.areaEFlag) = *flag;
    return {};
  }
  if (key == "device_id" || key == "image_tag") {
    uint32_t field = 0;
    if (!setU32(field, key == "image_tag" ? 0x3FFF : 0xFFFF).empty()) return bad;
    (key == "device_id" ? ncb.deviceId : ncb.imageTag) = static_cast<uint16_t>(field);
    return {};
  }
  if (key == "image_version") {
    uint32_t field = 0;
    if (!setU32(field, 0xFFFFFF).empty()) return bad;
    ncb.imageVersion = field;
    return {};
  }
  if (key == "free") {
    if (value == "none") {
      ncb.freeArea.reset();
      ncb.freeAreaOtherBank = false;
      return {};
    }
    if (value == "other_bank") {
      ncb.freeArea.reset();
      ncb.freeAreaOtherBank = true;
      return {};
    }
    const auto parts = words(value);
    if (parts.size() != 2) return bad;
    const auto offset = parseU32(parts[0], 0xFFFFFF);
    const auto size = parseU32(parts[1], 0xFFFFFF);
    if (!offset || !size) return bad;
    ncb.freeArea = NcbRegion{*offset, *size};
    return {};
  }
  if (key == "magic") {
    const auto flag = parseBool(value);
    if (!flag) return bad;
    ncb.magic = *flag;
    return {};
  }
  if (key == "set") {
    const auto poke = parsePoke(value);
    if (!poke) return bad;
    // A byte past the block would not be written: the line says something that does not happen.
    if (uint64_t{poke->offset} + poke->bytes.size() > kNcbBlockSize) {
      return "set at " + hex(poke->offset) + " of " + byteCount(poke->bytes.size()) +
             " passes the block's end (" + hex(kNcbBlockSize) + " bytes)";
    }
    ncb.sets.push_back(*poke);
    return {};
  }
  return "unknown key '" + std::string(key) + "'";
}

}  // namespace

Result<> parseImageDescription(std::string_view text, ImageSpec& spec) {
  // The pokes of this description with their lines: whether one passes the image's end is known
  // only once image_size has been read, wherever it stands.
  std::vector<std::pair<std::size_t, std::size_t>> pokeLines;  // index in spec.pokes, line
  std::size_t lineNumber = 0;
  std::size_t at = 0;
  while (at <= text.size()) {
    auto end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    if (const auto hash = line.find('#'); hash != std::string_view::npos)
      line = line.substr(0, hash);
    line = trim(line);
    if (line.empty()) continue;

    const auto equals = line.find('=');
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    if (equals == std::string_view::npos) {
      return fail(where + "expected 'key = value'");
    }
    const std::string_view key = trim(line.substr(0, equals));
    const std::string_view value = trim(line.substr(equals + 1));
    if (key.empty() || value.empty()) {
      return fail(where + "expected 'key = value'");
    }

    std::string problem;
    if (key == "image_size") {
      const auto size = parseU32(value, 0x4000000);
      if (size)
        spec.imageSize = *size;
      else
        problem = "bad value '" + std::string(value) + "' for image_size (at most 0x4000000)";
    } else if (key == "fill") {
      const auto fill = parseU32(value, 0xFF);
      if (fill)
        spec.fill = static_cast<uint8_t>(*fill);
      else
        problem = "bad value '" + std::string(value) + "' for fill";
    } else if (key == "poke") {
      const auto poke = parsePoke(value);
      if (poke) {
        pokeLines.emplace_back(spec.pokes.size(), lineNumber);
        spec.pokes.push_back(*poke);
      } else {
        problem = "bad value '" + std::string(value) + "' for poke (OFFSET HEXBYTES)";
      }
    } else if (key == "ncb0" || key == "ncb1") {
      problem = applyNcbKey(spec.ncbs[key == "ncb1" ? 1 : 0], "state", value);
    } else if (key.starts_with("ncb0.") || key.starts_with("ncb1.")) {
      problem = applyNcbKey(spec.ncbs[key[3] == '1' ? 1 : 0], key.substr(5), value);
    } else {
      problem = applyNcbKey(spec.ncbs[0], key, value);
      if (problem.empty()) problem = applyNcbKey(spec.ncbs[1], key, value);
    }
    if (!problem.empty()) {
      return fail(where + problem);
    }
  }
  // A byte past the end would not be written: the line says something that does not happen.
  for (const auto& [index, line] : pokeLines) {
    const Poke& poke = spec.pokes[index];
    if (uint64_t{poke.offset} + poke.bytes.size() > spec.imageSize) {
      return fail("line " + std::to_string(line) + ": poke at " + hex(poke.offset) + " of " +
                  byteCount(poke.bytes.size()) + " passes the image's end (" + hex(spec.imageSize) +
                  " bytes)");
    }
  }
  return {};
}

}  // namespace hlv::image
