#include "tools/hlvimage/image_diff.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <string_view>

#include "shared/crc16.h"
#include "tools/hlvimage/image_report.h"
#include "tools/hlvimage/report_format.h"

namespace hlv::image {
namespace {

// One side of a compared field, as the text and the JSON output show it.
struct Value {
  std::string text;
  tool::Json json;
  bool operator==(const Value&) const = default;
};

Value hexValue(uint64_t value, int digits) {
  return {format("0x%0*" PRIX64, digits, value), value};
}
Value numberValue(uint64_t value) {
  return {std::to_string(value), value};
}
Value flagValue(bool value) {
  return {value ? "yes" : "no", value};
}
Value versionValue(const std::optional<FirmwareVersion>& version, FlashUpdateStatus status) {
  return {versionText(version, status), jsonVersion(version)};
}
Value stateValue(const NcbReport& ncb) {
  return {ncb.erased ? "erased" : ncbStateName(ncb.state), static_cast<unsigned>(ncb.state)};
}
Value validityValue(const NcbReport& ncb) {
  return {
      ncb.problem.empty() ? "valid" : "invalid: " + ncb.problem,
      tool::Json{{"valid", ncb.problem.empty()},
                 {"status", statusNumber(ncb.validation)},
                 {"problem", ncb.problem.empty() ? tool::Json(nullptr) : tool::Json(ncb.problem)}}};
}
Value crcCheckValue(const ComponentCheck& check) {
  return {format("0x%04X ", check.recordedCrc) + crcCheckText(check),
          tool::Json{{"recorded", check.recordedCrc},
                     {"computed", jsonNumber(check.computedCrc)},
                     {"ok", check.ok()}}};
}

// A stretch of a file: the bytes of a component, of the free area or of an in-block area, which
// must end by `limit` (the end of its block) as well as inside the file.
struct Stretch {
  std::span<const uint8_t> file;
  uint64_t offset = 0;
  uint64_t size = 0;
  uint64_t limit = UINT64_MAX;
  bool inFile() const { return offset + size <= std::min<uint64_t>(limit, file.size()); }
  std::span<const uint8_t> bytes() const { return file.subspan(offset, size); }
};

Value stretchValue(const Stretch& stretch) {
  if (!stretch.inFile()) {
    return {stretch.limit < stretch.file.size() ? "outside its block" : "outside the file",
            nullptr};
  }
  const std::span<const uint8_t> bytes = stretch.bytes();
  const uint16_t crc = crc16(bytes.data(), static_cast<uint32_t>(bytes.size()), 0);
  return {format("0x%" PRIX64 " bytes at 0x%06" PRIX64 ", crc16 0x%04X", stretch.size,
                 stretch.offset, crc),
          tool::Json{{"offset", stretch.offset}, {"size", stretch.size}, {"crc16", crc}}};
}

bool sameBytes(const Stretch& a, const Stretch& b) {
  if (!a.inFile() || !b.inFile()) return a.inFile() == b.inFile();
  const std::span<const uint8_t> x = a.bytes(), y = b.bytes();
  return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

// Fixed regions of the flash layout, compared byte for byte; "beyond" is whatever a larger
// flash holds past the layout.
struct Region {
  const char* name;
  uint64_t start;
  uint64_t end;  // exclusive; 0 for "to the end of the longer file"
};
constexpr Region kRegions[] = {
    {"ncb0", kNcb0Address, kNcb0Address + kNcbBlockSize},
    {"ncb1", kNcb1Address, kNcb1Address + kNcbBlockSize},
    {"bankA", kBankAStart, kBankAStart + kBankLength},
    {"bankB", kBankBStart, kBankBStart + kBankLength},
    {"beyond", kFlashLayoutSize, 0},
};

constexpr std::string_view kCategories[] = {"file", "image", "ncb", "component", "area", "region"};

class Collector {
 public:
  void compare(const char* category, const std::string& field, const Value& a, const Value& b) {
    if (a == b) return;
    add(category, field, field + ": " + a.text + " -> " + b.text, {{"a", a.json}, {"b", b.json}});
  }

  void compareBytes(const char* category, const std::string& field, const Stretch& a,
                    const Stretch& b) {
    if (sameBytes(a, b)) return;
    const Value x = stretchValue(a), y = stretchValue(b);
    add(category, field, field + " differ: " + x.text + " -> " + y.text,
        {{"a", x.json}, {"b", y.json}});
  }

  void compareRegion(const Region& region, std::span<const uint8_t> a, std::span<const uint8_t> b) {
    const uint64_t longest = std::max(a.size(), b.size());
    const uint64_t end = region.end == 0 ? longest : std::min<uint64_t>(region.end, longest);
    uint64_t differing = 0, first = 0;
    for (uint64_t at = region.start; at < end; ++at) {
      const bool same = at < a.size() && at < b.size() && a[at] == b[at];
      if (same) continue;
      if (differing++ == 0) first = at;
    }
    if (differing == 0) return;
    add("region", region.name,
        format("%s (0x%06" PRIX64 "..0x%06" PRIX64 "): %" PRIu64 " %s, the first at 0x%06" PRIX64,
               region.name, region.start, end - 1, differing,
               differing == 1 ? "byte differs" : "bytes differ", first),
        {{"start", region.start},
         {"end", end},
         {"differing_bytes", differing},
         {"first_difference", first}});
  }

  // The differences by category (in the order of kCategories), each category in the order
  // its fields were compared.
  ImageDiff take() {
    const auto rank = [](const ImageDifference& d) {
      return std::find(std::begin(kCategories), std::end(kCategories), d.category) -
             std::begin(kCategories);
    };
    std::stable_sort(
        diff_.differences.begin(), diff_.differences.end(),
        [&](const ImageDifference& x, const ImageDifference& y) { return rank(x) < rank(y); });
    return std::move(diff_);
  }

 private:
  // `members` (an object) follow the category and the field, in their order.
  void add(const char* category, const std::string& field, std::string text,
           const tool::Json& members) {
    tool::Json json{{"category", category}, {"field", field}};
    for (const auto& [key, value] : members.items())
      json[key] = value;
    diff_.differences.push_back({category, field, std::move(text), std::move(json)});
  }

  ImageDiff diff_;
};

void compareSummary(Collector& out, const ImageReport& a, const ImageReport& b) {
  const auto activeNcb = [](const ImageReport& r) {
    return Value{r.activeNcb ? format("NCB%" PRIu32, *r.activeNcb) : "none",
                 jsonNumber(r.activeNcb)};
  };
  const auto layout = [](const ImageReport& r) {
    return Value{r.layout ? format("type %" PRIu32, *r.layout) : "none", jsonNumber(r.layout)};
  };
  const auto componentsOk = [](const ImageReport& r) {
    if (!r.componentsOk) return Value{"none", nullptr};
    return Value{*r.componentsOk ? "ok" : "DAMAGED", *r.componentsOk};
  };
  const auto type = [](const ImageReport& r) {
    return Value{r.type ? format("%" PRIu32, *r.type) : "unknown", jsonNumber(r.type)};
  };
  out.compare("image", "active_ncb", activeNcb(a), activeNcb(b));
  out.compare("image", "layout", layout(a), layout(b));
  out.compare("image", "version", versionValue(a.version, a.versionStatus),
              versionValue(b.version, b.versionStatus));
  out.compare("image", "previous_version", versionValue(a.previousVersion, a.previousStatus),
              versionValue(b.previousVersion, b.previousStatus));
  out.compare("image", "components_ok", componentsOk(a), componentsOk(b));
  out.compare("image", "image_status", numberValue(statusNumber(a.imageStatus)),
              numberValue(statusNumber(b.imageStatus)));
  out.compare("image", "image_version", versionValue(a.imageVersion, a.imageStatus),
              versionValue(b.imageVersion, b.imageStatus));
  out.compare("image", "type", type(a), type(b));
}

void compareNcb(Collector& out, uint32_t slot, const NcbReport& a, std::span<const uint8_t> fileA,
                const NcbReport& b, std::span<const uint8_t> fileB) {
  const std::string prefix = format("ncb%" PRIu32 ".", slot);
  out.compare("ncb", prefix + "in_file", flagValue(a.inFile), flagValue(b.inFile));
  if (!a.inFile || !b.inFile) return;
  out.compare("ncb", prefix + "state", stateValue(a), stateValue(b));
  out.compare("ncb", prefix + "validity", validityValue(a), validityValue(b));
  // An erased block records nothing: its fields against a written block's would only list the
  // written block's contents (which `hlvimage info` shows); the regions still count the bytes.
  if (a.erased != b.erased) return;
  out.compare("ncb", prefix + "size", hexValue(a.size, 4), hexValue(b.size, 4));
  out.compare("ncb", prefix + "crc", hexValue(a.storedCrc, 4), hexValue(b.storedCrc, 4));
  out.compare("ncb", prefix + "imageTag", hexValue(a.imageTag, 4), hexValue(b.imageTag, 4));
  out.compare("ncb", prefix + "imageVersion", hexValue(a.imageVersion, 6),
              hexValue(b.imageVersion, 6));
  out.compare("ncb", prefix + "magic", flagValue(a.magic), flagValue(b.magic));
  out.compare("ncb", prefix + "layout", numberValue(a.type2Layout ? 2 : 1),
              numberValue(b.type2Layout ? 2 : 1));
  out.compare("ncb", prefix + "version", versionValue(a.version, a.versionStatus),
              versionValue(b.version, b.versionStatus));

  for (NcbComponent component : kAllNcbComponents) {
    const auto i = static_cast<std::size_t>(component);
    const std::string field = prefix + ncbComponentName(component);
    const NcbRegion& x = a.components[i];
    const NcbRegion& y = b.components[i];
    out.compare("component", field + ".offset", hexValue(x.offset, 6), hexValue(y.offset, 6));
    out.compare("component", field + ".size", hexValue(x.size, 6), hexValue(y.size, 6));
    out.compareBytes("component", field + ".bytes", {fileA, x.offset, x.size},
                     {fileB, y.offset, y.size});
  }
  for (std::size_t i = 0; i < a.checks.size(); ++i) {
    out.compare("component", prefix + a.checks[i].name + ".crc", crcCheckValue(a.checks[i]),
                crcCheckValue(b.checks[i]));
  }

  // The blocks lie whole in both files here. An area's bytes count only inside its own block.
  const ConstHalvernNcb ncbA = *ConstHalvernNcb::inBuffer(fileA, a.address);
  const ConstHalvernNcb ncbB = *ConstHalvernNcb::inBuffer(fileB, b.address);
  const auto areaBytes = [](std::span<const uint8_t> file, ConstHalvernNcb ncb, uint32_t address,
                            NcbArea which) {
    return Stretch{file, uint64_t{address} + ncb.areaOffsetInBlock(which), ncb.area(which).length,
                   uint64_t{address} + kNcbBlockSize};
  };
  for (NcbArea area : kAllNcbAreas) {
    const auto i = static_cast<std::size_t>(area);
    const std::string field = prefix + ncbAreaName(area);
    out.compare("area", field + ".offset", hexValue(a.areas[i].offset, 4),
                hexValue(b.areas[i].offset, 4));
    out.compare("area", field + ".length", hexValue(a.areas[i].length, 4),
                hexValue(b.areas[i].length, 4));
    out.compareBytes("area", field + ".bytes", areaBytes(fileA, ncbA, a.address, area),
                     areaBytes(fileB, ncbB, b.address, area));
  }
  out.compare("area", prefix + "freeArea.offset", hexValue(a.freeArea.offset, 6),
              hexValue(b.freeArea.offset, 6));
  out.compare("area", prefix + "freeArea.size", hexValue(a.freeArea.size, 6),
              hexValue(b.freeArea.size, 6));
  out.compareBytes("area", prefix + "freeArea.bytes", {fileA, a.freeArea.offset, a.freeArea.size},
                   {fileB, b.freeArea.offset, b.freeArea.size});
}

}  // namespace

ImageDiff diffImages(std::span<const uint8_t> a, uint64_t sizeA, std::span<const uint8_t> b,
                     uint64_t sizeB) {
  Collector out;
  out.compare("file", "file_size", numberValue(sizeA), numberValue(sizeB));
  const ImageReport reportA = analyzeImage(a, sizeA);
  const ImageReport reportB = analyzeImage(b, sizeB);
  compareSummary(out, reportA, reportB);
  for (uint32_t slot = 0; slot < 2; ++slot)
    compareNcb(out, slot, reportA.ncbs[slot], a, reportB.ncbs[slot], b);
  for (const Region& region : kRegions)
    out.compareRegion(region, a, b);
  return out.take();
}

std::string formatDiffText(const ImageDiff& diff, const std::string& pathA,
                           const std::string& pathB) {
  std::string text = "A: " + pathA + "\nB: " + pathB + "\n";
  std::string category;
  for (const ImageDifference& difference : diff.differences) {
    if (difference.category != category) {
      category = difference.category;
      text += category + ":\n";
    }
    text += "  " + difference.text + "\n";
  }
  const std::size_t count = diff.differences.size();
  text += count == 0   ? std::string("identical\n")
          : count == 1 ? std::string("1 difference\n")
                       : format("%zu differences\n", count);
  return text;
}

std::string formatDiffJson(const ImageDiff& diff, const std::string& pathA,
                           const std::string& pathB, uint64_t sizeA, uint64_t sizeB) {
  tool::Json differences = tool::Json::array();
  for (const ImageDifference& difference : diff.differences)
    differences.push_back(difference.json);
  tool::Json out;
  out["a"] = tool::Json{{"path", pathA}, {"file_size", sizeA}};
  out["b"] = tool::Json{{"path", pathB}, {"file_size", sizeB}};
  out["identical"] = diff.identical();
  out["differences"] = std::move(differences);
  return tool::dumpJson(out) + "\n";
}

}  // namespace hlv::image
