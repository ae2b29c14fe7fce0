#include "tools/hlvimage/image_map.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <vector>

#include "tools/common/text_escape.h"
#include "tools/hlvimage/report_format.h"

namespace hlv::image {
namespace {

// Geometry, in pixels. Positions are computed in tenths of a pixel with integers, so the same
// report gives the same document on every machine and build.
constexpr int kWidth = 960;
constexpr int kMargin = 20;
constexpr int kLaneX = 110;  // left of the lanes; the lane labels sit before it
constexpr int kLaneWidth = kWidth - kMargin - kLaneX;
constexpr int kLaneHeight = 66;
constexpr int kLineHeight = 15;
constexpr int64_t kMinItemTenths = 960;  // an item's box is at least this wide when room allows

struct Bank {
  const char* name;
  uint32_t start;
  uint32_t end;  // exclusive
};
constexpr Bank kBanks[] = {
    {"Bank A", kBankAStart, kBankAStart + kBankLength},
    {"Bank B", kBankBStart, kBankBStart + kBankLength},
};

// A component or a free area that a block records.
struct Item {
  uint32_t slot = 0;
  std::string name;
  NcbRegion region;
  const char* style = "";   // the CSS class of its box
  std::string state;        // "CRC ok", "CRC MISMATCH", "CRC unchecked", "not in file"; empty
                            // for a free area
  std::string description;  // "NCB0 macPart1 at 0x008000, 0x8000 bytes"
  std::string crcNote;      // what the CRC check of its group found
  uint64_t start() const { return region.offset; }
  uint64_t end() const { return uint64_t{region.offset} + region.size; }
  bool overlaps(const Bank& bank) const { return start() < bank.end && end() > bank.start; }
};

std::string tenths(int64_t value) {
  return format("%" PRId64 ".%" PRId64, value / 10, value % 10);
}

class Document {
 public:
  void add(const std::string& element) { body_ += element + "\n"; }
  void text(int x, int y, const std::string& content, const char* style = nullptr) {
    add(format("<text x=\"%d\" y=\"%d\"%s%s%s>%s</text>", x, y, style ? " class=\"" : "",
               style ? style : "", style ? "\"" : "", tool::xmlText(content).c_str()));
  }
  void rect(int x, int y, int width, int height, const char* style) {
    add(format("<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" class=\"%s\"/>", x, y, width,
               height, style));
  }
  int nextClipId() { return ++clips_; }
  std::string finish(int height) const {
    return format(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
               "viewBox=\"0 0 %d %d\">\n",
               kWidth, height, kWidth, height) +
           kStyle +
           format("<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" class=\"page\"/>\n", kWidth,
                  height) +
           body_ + "</svg>\n";
  }

 private:
  static constexpr const char* kStyle =
      "<style>\n"
      "text { font-family: monospace; font-size: 11px; fill: #212121; }\n"
      ".title { font-family: sans-serif; font-size: 18px; font-weight: bold; }\n"
      ".head { font-size: 13px; font-weight: bold; }\n"
      ".mark { font-weight: bold; fill: #0d47a1; }\n"
      ".note { fill: #616161; }\n"
      ".page { fill: #ffffff; }\n"
      ".ncb { fill: #fafafa; stroke: #616161; }\n"
      ".active { fill: #e3f2fd; stroke: #1565c0; stroke-width: 3; }\n"
      ".bank { fill: #f5f5f5; stroke: #9e9e9e; }\n"
      ".ok { fill: #c8e6c9; stroke: #2e7d32; }\n"
      ".bad { fill: #ffcdd2; stroke: #c62828; }\n"
      ".outside { fill: #e0e0e0; stroke: #616161; }\n"
      ".free { fill: #ffffff; stroke: #424242; stroke-dasharray: 4 3; }\n"
      "</style>\n";
  std::string body_;
  int clips_ = 0;
};

bool drawable(const NcbReport& ncb) {
  return ncb.inFile && !ncb.erased;
}

std::vector<Item> itemsOf(const ImageReport& report) {
  std::vector<Item> items;
  for (uint32_t slot = 0; slot < 2; ++slot) {
    const NcbReport& ncb = report.ncbs[slot];
    if (!drawable(ncb)) continue;
    for (NcbComponent component : kAllNcbComponents) {
      const ComponentCheck& check = checkOf(ncb, component);
      Item item;
      item.slot = slot;
      item.name = ncbComponentName(component);
      item.region = ncb.components[static_cast<std::size_t>(component)];
      const bool inFile = item.end() <= report.fileSize;
      item.style = !check.inFile ? "outside" : check.ok() ? "ok" : "bad";
      item.state = !inFile         ? "not in file"
                   : !check.inFile ? "CRC unchecked"
                   : check.ok()    ? "CRC ok"
                                   : "CRC MISMATCH";
      item.description = format("NCB%" PRIu32 " %s at 0x%06" PRIX32 ", 0x%" PRIX32 " bytes", slot,
                                item.name.c_str(), item.region.offset, item.region.size);
      item.crcNote = format("%s CRC 0x%04X %s", check.name, check.recordedCrc,
                            !check.inFile ? "not checked: the group lies partly outside the file"
                            : check.ok()  ? "matches"
                                          : "does not match");
      items.push_back(item);
    }
    if (ncb.freeArea.size != 0) {
      Item item;
      item.slot = slot;
      item.name = "free area";
      item.region = ncb.freeArea;
      item.style = "free";
      item.description = format("NCB%" PRIu32 " free area at 0x%06" PRIX32 ", 0x%" PRIX32 " bytes",
                                slot, ncb.freeArea.offset, ncb.freeArea.size);
      items.push_back(item);
    }
  }
  return items;
}

std::string blockState(const NcbReport& ncb) {
  if (!ncb.inFile) return "not in the file";
  if (ncb.erased) return "erased";
  return std::string(ncbStateName(ncb.state)) +
         (ncb.problem.empty() ? ", valid" : ", invalid: " + ncb.problem);
}

int drawBlocks(Document& doc, const ImageReport& report, int top) {
  constexpr int kBoxWidth = (kWidth - 2 * kMargin - 20) / 2;
  constexpr int kBoxHeight = 6 * kLineHeight + 8;
  for (uint32_t slot = 0; slot < 2; ++slot) {
    const NcbReport& ncb = report.ncbs[slot];
    const bool taken = report.activeNcb && *report.activeNcb == slot;
    const int x = kMargin + static_cast<int>(slot) * (kBoxWidth + 20);
    doc.rect(x, top, kBoxWidth, kBoxHeight, taken ? "active" : "ncb");
    int y = top + kLineHeight + 2;
    doc.text(x + 8, y, format("NCB%" PRIu32 " at 0x%06" PRIX32, slot, ncb.address), "head");
    doc.text(x + 8, y += kLineHeight, "state: " + blockState(ncb));
    if (drawable(ncb)) {
      doc.text(x + 8, y += kLineHeight,
               "firmware " + versionText(ncb.version, ncb.versionStatus) +
                   format(", layout type %d", ncb.type2Layout ? 2 : 1));
      doc.text(x + 8, y += kLineHeight,
               format("size 0x%04X, crc 0x%04X %s", ncb.size, ncb.storedCrc,
                      !ncb.computedCrc ? "(no CRC range)"
                      : ncb.crcOk      ? "ok"
                                       : "MISMATCH"));
      doc.text(x + 8, y += kLineHeight,
               ncb.freeArea.size == 0 && ncb.freeArea.offset == 0
                   ? std::string("free area: none")
                   : format("free area: 0x%06" PRIX32 ", 0x%" PRIX32 " bytes", ncb.freeArea.offset,
                            ncb.freeArea.size));
    }
    if (taken)
      doc.text(x + 8, top + kBoxHeight - 6, "ACTIVE: flash readers take this block", "mark");
  }
  return top + kBoxHeight;
}

// Where addresses of a bank go on its lanes: every item gets a box of at least kMinItemTenths
// (less when many items share the bank), the rest of the width is shared in proportion to the
// bytes, so small components stay readable and large ones still look large.
class BankScale {
 public:
  BankScale(const Bank& bank, const std::vector<const Item*>& items) : bank_(bank) {
    points_ = {bank.start, bank.end};
    for (const Item* item : items) {
      points_.push_back(clip(item->start()));
      points_.push_back(clip(item->end()));
    }
    std::sort(points_.begin(), points_.end());
    points_.erase(std::unique(points_.begin(), points_.end()), points_.end());
    std::vector<bool> starts(points_.size(), false);
    std::size_t startCount = 0;
    for (const Item* item : items) {
      const std::size_t i = indexOf(clip(item->start()));
      if (!starts[i]) ++startCount;
      starts[i] = true;
    }
    const int64_t laneTenths = int64_t{kLaneWidth} * 10;
    minimum_ = startCount == 0
                   ? 0
                   : std::min<int64_t>(kMinItemTenths, laneTenths * 3 / 4 / int64_t(startCount));
    baseBefore_.assign(points_.size(), 0);
    for (std::size_t i = 1; i < points_.size(); ++i)
      baseBefore_[i] = baseBefore_[i - 1] + (starts[i - 1] ? minimum_ : 0);
    spread_ = laneTenths - baseBefore_.back();
  }

  // The x position, in tenths of a pixel, of an address (clipped to the bank).
  int64_t x(uint64_t address) const {
    const uint64_t at = clip(address);
    const std::size_t i = indexOf(at);
    const int64_t bytesBefore = static_cast<int64_t>(at - bank_.start);
    const int64_t length = static_cast<int64_t>(bank_.end - bank_.start);
    return int64_t{kLaneX} * 10 + baseBefore_[i] + bytesBefore * spread_ / length;
  }

 private:
  uint64_t clip(uint64_t address) const {
    return std::clamp<uint64_t>(address, bank_.start, bank_.end);
  }
  std::size_t indexOf(uint64_t point) const {
    return static_cast<std::size_t>(std::lower_bound(points_.begin(), points_.end(), point) -
                                    points_.begin());
  }

  Bank bank_;
  std::vector<uint64_t> points_;
  std::vector<int64_t> baseBefore_;  // the minimum widths of the items starting before a point
  int64_t minimum_ = 0;
  int64_t spread_ = 0;
};

void drawItem(Document& doc, const Item& item, const BankScale& scale, int top) {
  const int64_t left = scale.x(item.start());
  const int64_t width = std::max<int64_t>(scale.x(item.end()) - left, 10);
  const int clip = doc.nextClipId();
  const std::string box =
      format("x=\"%s\" y=\"%d\" width=\"%s\" height=\"%d\"", tenths(left).c_str(), top + 2,
             tenths(width).c_str(), kLaneHeight - 4);
  doc.add(format("<clipPath id=\"clip%d\"><rect %s/></clipPath>", clip, box.c_str()));
  doc.add(format(
      "<g clip-path=\"url(#clip%d)\"><title>%s</title>", clip,
      tool::xmlText(item.description + (item.crcNote.empty() ? "" : "; " + item.crcNote)).c_str()));
  doc.add(format("<rect %s class=\"%s\"/>", box.c_str(), item.style));
  const int x = static_cast<int>(left / 10) + 4;
  int y = top + 2 + kLineHeight - 1;
  doc.text(x, y, item.name, "head");
  doc.text(x, y += kLineHeight, format("@0x%06" PRIX32, item.region.offset));
  doc.text(x, y += kLineHeight, format("size 0x%" PRIX32, item.region.size));
  if (!item.state.empty()) doc.text(x, y += kLineHeight, item.state);
  doc.add("</g>");
}

int drawBank(Document& doc, const ImageReport& report, const Bank& bank,
             const std::vector<Item>& items, int top) {
  doc.text(kMargin, top + 13,
           format("%s  0x%06" PRIX32 "..0x%06" PRIX32 "  (0x%" PRIX32 " bytes)", bank.name,
                  bank.start, bank.end - 1, bank.end - bank.start),
           "head");
  top += 20;
  std::vector<const Item*> inBank;
  for (const Item& item : items) {
    if (item.region.size != 0 && item.overlaps(bank)) inBank.push_back(&item);
  }
  const BankScale scale(bank, inBank);
  for (uint32_t slot = 0; slot < 2; ++slot) {
    const bool taken = report.activeNcb && *report.activeNcb == slot;
    doc.text(kMargin, top + 28, format("NCB%" PRIu32, slot), "head");
    if (taken) doc.text(kMargin, top + 28 + kLineHeight, "active", "mark");
    doc.rect(kLaneX, top, kLaneWidth, kLaneHeight, "bank");
    bool any = false;
    for (const Item* item : inBank) {
      if (item->slot != slot) continue;
      drawItem(doc, *item, scale, top);
      any = true;
    }
    if (!any) {
      const NcbReport& ncb = report.ncbs[slot];
      doc.text(
          kLaneX + 8, top + kLaneHeight / 2 + 4,
          drawable(ncb) ? "nothing of this block lies here" : "this block is " + blockState(ncb),
          "note");
    }
    top += kLaneHeight + 6;
  }
  return top;
}

// Components and free areas that no bank shows: absent ones, and those outside both banks.
int drawElsewhere(Document& doc, const ImageReport& report, const std::vector<Item>& items,
                  int top) {
  std::vector<std::string> lines;
  for (const Item& item : items) {
    const bool inABank = std::any_of(std::begin(kBanks), std::end(kBanks),
                                     [&](const Bank& bank) { return item.overlaps(bank); });
    if (item.region.size == 0) {
      lines.push_back(format("NCB%" PRIu32 " %s: absent (size 0)", item.slot, item.name.c_str()));
    } else if (!inABank) {
      lines.push_back(item.description + ": outside both banks" +
                      (item.crcNote.empty() ? "" : "; " + item.crcNote));
    }
  }
  for (uint32_t slot = 0; slot < 2; ++slot) {
    if (!drawable(report.ncbs[slot]))
      lines.push_back(format("NCB%" PRIu32 " records no components: ", slot) +
                      blockState(report.ncbs[slot]));
  }
  if (lines.empty()) return top;
  doc.text(kMargin, top + 13, "Not drawn in the banks", "head");
  top += 18;
  for (const std::string& line : lines)
    doc.text(kMargin + 8, top += kLineHeight, line);
  return top + 8;
}

int drawLegend(Document& doc, int top) {
  struct Key {
    const char* style;
    const char* meaning;
  };
  constexpr Key kKeys[] = {{"ok", "CRC matches"},
                           {"bad", "CRC mismatch"},
                           {"outside", "outside the file"},
                           {"free", "free area"},
                           {"active", "block readers take"}};
  int x = kMargin;
  for (const Key& key : kKeys) {
    doc.rect(x, top, 18, 12, key.style);
    doc.text(x + 24, top + 10, key.meaning);
    x += 180;
  }
  return top + 12;
}

}  // namespace

std::string renderFlashMapSvg(const ImageReport& report, const std::string& title) {
  Document doc;
  doc.text(kMargin, 30, "Flash map: " + title, "title");
  std::string reader = format("%" PRIu64 " bytes; ", report.fileSize);
  if (report.activeNcb) {
    reader += format("flash readers take NCB%" PRIu32 ": firmware %s, layout type %" PRIu32
                     ", components %s",
                     *report.activeNcb, versionText(report.version, report.versionStatus).c_str(),
                     *report.layout, *report.componentsOk ? "ok" : "DAMAGED");
  } else {
    reader += "flash readers take no block: no valid active NCB";
  }
  doc.text(kMargin, 50, reader);
  std::string image =
      "previous firmware: " + versionText(report.previousVersion, report.previousStatus) +
      format("; as an update image: status %" PRIu32, statusNumber(report.imageStatus));
  if (report.imageVersion) image += ", version " + report.imageVersion->toString();
  image += report.type ? format(", type %" PRIu32, *report.type) : ", type unknown";
  doc.text(kMargin, 50 + kLineHeight, image);

  int top = drawBlocks(doc, report, 80) + 24;
  const std::vector<Item> items = itemsOf(report);
  for (const Bank& bank : kBanks)
    top = drawBank(doc, report, bank, items, top) + 14;
  top = drawElsewhere(doc, report, items, top);
  top = drawLegend(doc, top + 6);
  return doc.finish(top + kMargin);
}

}  // namespace hlv::image
