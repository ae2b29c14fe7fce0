#include "bundle/update_database.h"

#include <tinyxml2.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>

#include "bundle/update_database_trace.h"
#include "shared/hex_bytes.h"

namespace hlv {
namespace {

namespace tp = trace_points::update_database;

// What an element without text gives where a text is required: the same complaint as building
// a string from a null pointer.
constexpr const char* kMissingTextMessage = "basic_string: construction from null is not valid";

bool named(const tinyxml2::XMLElement& element, const char* name) {
  return std::strcmp(element.Value(), name) == 0;
}

// The element's text; an element without text is an error.
std::string requiredText(const tinyxml2::XMLElement& element) {
  const char* text = element.GetText();
  if (text == nullptr) throw std::logic_error(kMissingTextMessage);
  return text;
}

// The element's text; an element without text gives an empty one.
std::string optionalText(const tinyxml2::XMLElement& element) {
  const char* text = element.GetText();
  return text != nullptr ? std::string(text) : std::string();
}

std::string attributeText(const tinyxml2::XMLElement& element, const char* name) {
  const char* value = element.Attribute(name);
  return value != nullptr ? std::string(value) : std::string();
}

// A hexadecimal identifier, cut to 16 bits. strtoul saturates on overflow, so a huge value reads
// as 0xFFFF; a text without digits reads as 0.
uint16_t parseIdentifier(const char* text) {
  return static_cast<uint16_t>(std::strtoul(text, nullptr, 16));
}

}  // namespace

std::vector<uint8_t> decodeHex(const std::string& text) {
  if (text.size() % 2 != 0)
    throw std::invalid_argument("Hex string length must be a multiple of 2");
  std::optional<std::vector<uint8_t>> bytes = parseHexBytes(text);
  if (!bytes) throw std::invalid_argument("Invalid HEX character provided!");
  return std::move(*bytes);
}

std::vector<HwId> parseHwIds(const tinyxml2::XMLElement& hwids) {
  struct Field {
    const char* attribute;
    uint16_t HwId::*member;
    const trace::Point<>& missing;
  };
  static const Field kFields[] = {
      {"vid", &HwId::vid, tp::kVidMissing},
      {"did", &HwId::did, tp::kDidMissing},
      {"sdid", &HwId::sdid, tp::kSdidMissing},
      {"svid", &HwId::svid, tp::kSvidMissing},
  };
  std::vector<HwId> result;
  for (const tinyxml2::XMLElement* child = hwids.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    HwId hwid;
    for (const Field& field : kFields) {
      if (const char* value = child->Attribute(field.attribute))
        hwid.*field.member = parseIdentifier(value);
      else
        trace::emit(field.missing);
    }
    result.push_back(hwid);
  }
  return result;
}

BdpEntry parseBdp(const tinyxml2::XMLElement& bdp) {
  BdpEntry entry;
  if (const tinyxml2::XMLElement* hwids = bdp.FirstChildElement("hwids"))
    entry.hwids = parseHwIds(*hwids);
  for (const tinyxml2::XMLElement* child = bdp.FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    if (named(*child, "mac"))
      entry.mac = decodeHex(requiredText(*child));
    else if (named(*child, "phy"))
      entry.phy = decodeHex(requiredText(*child));
    else if (named(*child, "image"))
      entry.image = optionalText(*child);
  }
  entry.id = attributeText(bdp, "id");
  return entry;
}

AliasEntry parseAlias(const tinyxml2::XMLElement& alias) {
  AliasEntry entry;
  if (const tinyxml2::XMLElement* hwids = alias.FirstChildElement("hwids"))
    entry.hwids = parseHwIds(*hwids);
  if (const tinyxml2::XMLElement* bdpId = alias.FirstChildElement("bdpid"))
    entry.bdpId = optionalText(*bdpId);
  entry.id = attributeText(alias, "id");
  for (const tinyxml2::XMLElement* systemId = alias.FirstChildElement("systemid");
       systemId != nullptr; systemId = systemId->NextSiblingElement("systemid")) {
    entry.systemIds.push_back(SystemId{kSystemIdBaseboard, requiredText(*systemId)});
  }
  return entry;
}

std::unique_ptr<UpdateDatabase> loadUpdateDatabase(const std::string& path) {
  trace::emit(tp::kLoading, path);
  try {
    // White space is preserved: element texts keep their line feeds and surrounding blanks.
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    if (document.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
      const char* error = document.ErrorStr();
      trace::emit(tp::kLoadFailed, path, error != nullptr ? error : "");
      return nullptr;
    }

    auto database = std::make_unique<UpdateDatabase>();
    const tinyxml2::XMLElement* root = document.FirstChildElement("bdpDatabase");
    if (root == nullptr) {
      const char* name = document.ErrorName();
      trace::emit(tp::kNoRoot, name != nullptr ? name : "");
      return database;
    }
    for (const tinyxml2::XMLElement* child = root->FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
      if (named(*child, "bdp")) {
        database->bdps.push_back(parseBdp(*child));
        traceBdpEntry(database->bdps.back());
      } else if (named(*child, "alias")) {
        database->aliases.push_back(parseAlias(*child));
        traceAliasEntry(database->aliases.back());
      } else if (named(*child, "version")) {
        trace::emit(tp::kVersion, optionalText(*child));
      } else {
        trace::emit(tp::kElementSkipped, child->Value());
      }
    }
    trace::emit(tp::kLoaded, static_cast<uint32_t>(database->bdps.size()),
                static_cast<uint32_t>(database->aliases.size()));
    return database;
  } catch (const std::exception& error) {
    // A malformed entry (or exhausted memory) discards the whole database: a half-read file must
    // never decide which image an adapter gets.
    trace::emit(tp::kEntryRejected, error.what());
    return nullptr;
  }
}

}  // namespace hlv
