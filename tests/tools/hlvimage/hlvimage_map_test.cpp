// `hlvimage map FILE --svg OUT`: the picture is well-formed XML whatever the file holds, and it
// shows every component each block records with its place, size and CRC state, the free area,
// and which block flash readers take. The picture the documentation shows is regenerated and
// compared, and the flash images guide shows it beside the description it is drawn from.
#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <cinttypes>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "shared/halvern_ncb.h"
#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::builtProgram;
using test::runProcess;

// What the picture says: the text of each drawn item's tooltip, mapped to the texts drawn in
// its box; the texts outside items; which block box is marked active.
struct Picture {
  std::map<std::string, std::vector<std::string>> items;
  std::vector<std::string> texts;
  std::vector<std::string> activeBoxes;  // the first text after each rect of class "active"
};

void collect(const tinyxml2::XMLElement* element, Picture& picture, bool& afterActive) {
  for (const tinyxml2::XMLElement* child = element->FirstChildElement(); child != nullptr;
       child = child->NextSiblingElement()) {
    const std::string name = child->Name();
    if (name == "g") {
      const tinyxml2::XMLElement* title = child->FirstChildElement("title");
      std::vector<std::string>& texts =
          picture.items[title && title->GetText() ? title->GetText() : "<untitled>"];
      for (const tinyxml2::XMLElement* text = child->FirstChildElement("text"); text != nullptr;
           text = text->NextSiblingElement("text"))
        texts.push_back(text->GetText() ? text->GetText() : "");
    } else if (name == "rect") {
      const char* style = child->Attribute("class");
      if (style && std::string(style) == "active") afterActive = true;
    } else if (name == "text") {
      const std::string content = child->GetText() ? child->GetText() : "";
      // The legend's key for the active block is no block.
      if (afterActive && content != "block readers take") picture.activeBoxes.push_back(content);
      afterActive = false;
      picture.texts.push_back(content);
    } else {
      collect(child, picture, afterActive);
    }
  }
}

// Parses the SVG with tinyxml2; fails the test when it is not well-formed.
Picture parsePicture(const std::string& svg, const std::string& what) {
  tinyxml2::XMLDocument document;
  const tinyxml2::XMLError error = document.Parse(svg.data(), svg.size());
  EXPECT_EQ(error, tinyxml2::XML_SUCCESS) << what << ": " << document.ErrorStr();
  Picture picture;
  const tinyxml2::XMLElement* root = document.RootElement();
  if (error != tinyxml2::XML_SUCCESS || root == nullptr) return picture;
  EXPECT_STREQ(root->Name(), "svg") << what;
  bool afterActive = false;
  collect(root, picture, afterActive);
  return picture;
}

std::string mapOf(const std::string& description, const test::TempDir& dir,
                  const std::string& imageName = "flash-map.bin") {
  test::writeFile(dir / "image.desc", description);
  const auto built =
      runProcess(builtProgram("hlvimage"), {"build", dir / "image.desc", dir / imageName});
  EXPECT_EQ(built.exitStatus, 0) << built.err;
  const auto mapped =
      runProcess(builtProgram("hlvimage"), {"map", dir / imageName, "--svg", dir / "map.svg"});
  EXPECT_EQ(mapped.exitStatus, 0) << mapped.err;
  EXPECT_EQ(mapped.out, "");
  return test::readFile(dir / "map.svg");
}

std::string itemTitle(uint32_t slot, const char* name, uint32_t offset, uint32_t size) {
  char text[96];
  std::snprintf(text, sizeof text, "NCB%" PRIu32 " %s at 0x%06" PRIX32 ", 0x%" PRIX32 " bytes",
                slot, name, offset, size);
  return text;
}

// The texts of the item whose tooltip starts with `title`, or nothing.
const std::vector<std::string>* findItem(const Picture& picture, const std::string& title) {
  for (const auto& [tooltip, texts] : picture.items) {
    if (tooltip.starts_with(title)) return &texts;
  }
  return nullptr;
}

// The components of the default layout, packed from the start of a bank.
struct Placed {
  const char* name;
  uint32_t offsetInBank;
  uint32_t size;
};
constexpr Placed kDefaultComponents[] = {
    {"macPart1", 0x0, 0x8000},     {"macPart2", 0x8000, 0x10000}, {"phyPart1", 0x18000, 0x4000},
    {"phyPart2", 0x1C000, 0x2000}, {"rom", 0x1E000, 0x4000},
};

// The lines of a description that say something: neither comments nor blank lines.
std::vector<std::string> descriptionLines(const std::string& description) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < description.size()) {
    std::size_t end = description.find('\n', start);
    if (end == std::string::npos) end = description.size();
    const std::string line = description.substr(start, end - start);
    if (!line.empty() && line.front() != '#') lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

TEST(HlvimageMap, TheGuidesPictureIsUpToDateAndNamesEveryComponent) {
  test::TempDir dir;
  std::string source = HLV_SOURCE_DIR;
  source += "/doc/";
  const std::string description = test::readFile(source + "flash-map.desc");
  const std::string svg = mapOf(description, dir);
  EXPECT_EQ(svg, test::readFile(source + "flash-map.svg"))
      << "doc/flash-map.svg is not what the documented command makes now; regenerate it with\n"
         "  build/bin/hlvimage build doc/flash-map.desc flash-map.bin\n"
         "  build/bin/hlvimage map flash-map.bin --svg doc/flash-map.svg";

  // The guide shows the picture, and the description it is drawn from as its example, line for
  // line in one block.
  const std::string guide = test::readFile(source + "flash-images.md");
  EXPECT_NE(guide.find("](flash-map.svg)"), std::string::npos)
      << "doc/flash-images.md does not show the picture";
  std::string block;
  for (const std::string& line : descriptionLines(description))
    block += line + "\n";
  EXPECT_NE(guide.find("```\n" + block + "```\n"), std::string::npos)
      << "doc/flash-images.md does not show doc/flash-map.desc as its example:\n"
      << block;

  const Picture picture = parsePicture(svg, "the guide's picture");
  // NCB0 (deactivated, over bank A, its ROM CRC recorded wrong) and NCB1 (active, bank B).
  for (uint32_t slot = 0; slot < 2; ++slot) {
    const uint32_t bank = slot == 0 ? kBankAStart : kBankBStart;
    for (const Placed& component : kDefaultComponents) {
      const std::string title =
          itemTitle(slot, component.name, bank + component.offsetInBank, component.size);
      const std::vector<std::string>* texts = findItem(picture, title);
      ASSERT_NE(texts, nullptr) << title;
      ASSERT_EQ(texts->size(), 4u) << title;
      EXPECT_EQ((*texts)[0], component.name) << title;
      const bool damaged = slot == 0 && std::string(component.name) == "rom";
      EXPECT_EQ((*texts)[3], damaged ? "CRC MISMATCH" : "CRC ok") << title;
    }
  }
  ASSERT_EQ(picture.activeBoxes.size(), 1u);
  EXPECT_EQ(picture.activeBoxes[0], "NCB1 at 0x004000");
}

TEST(HlvimageMap, ShowsFreeAreasCrcStatesAndWhatLiesOutsideTheBanks) {
  struct Case {
    const char* what;
    const char* description;
    std::vector<std::pair<std::string, std::string>> items;  // title start, its last text
    std::vector<std::string> texts;                          // drawn outside the items
    const char* activeBox;                                   // nullptr: none marked
  };
  const Case cases[] = {
      {"type-1 flash: components in bank B, bank A the free area",
       "ncb0.layout = type1\n",
       {{"NCB0 macPart1 at 0x104000, 0x8000 bytes", "CRC ok"},
        {"NCB0 free area at 0x008000, 0xFC000 bytes", "size 0xFC000"}},
       {"state: erased", "NCB1 records no components: erased"},
       "NCB0 at 0x000000"},
      {"damaged PHY firmware",
       "phy_crc = bad\n",
       {{"NCB0 phyPart1 at 0x020000, 0x4000 bytes", "CRC MISMATCH"},
        {"NCB0 phyPart2 at 0x024000, 0x2000 bytes", "CRC MISMATCH"},
        {"NCB0 macPart1 at 0x008000, 0x8000 bytes", "CRC ok"}},
       {},
       "NCB0 at 0x000000"},
      {"components outside the banks and absent ones, no valid block",
       "mac2_offset = 0xFFFFFF\nmac2_size = 0xFFFFFF\nphy1_offset = 0xFFFFF0\nrom_size = 0\n",
       {{"NCB0 macPart1 at 0x008000, 0x8000 bytes", "CRC unchecked"}},
       {"NCB0 macPart2 at 0xFFFFFF, 0xFFFFFF bytes: outside both banks; mac CRC 0x",
        "NCB0 rom: absent (size 0)",
        "state: active, invalid: a descriptor lies outside its window"},
       nullptr},
      {"flash dump cut inside bank B",
       "ncb0 = deactivated\nncb1 = active\nimage_size = 0x110000\n",
       // MAC part 1 is in the file, but the CRC covering it needs part 2 as well.
       {{"NCB1 macPart1 at 0x104000, 0x8000 bytes", "CRC unchecked"},
        {"NCB1 macPart2 at 0x10C000, 0x10000 bytes", "not in file"},
        {"NCB1 rom at 0x122000, 0x4000 bytes", "not in file"}},
       {},
       "NCB1 at 0x004000"},
      {"both blocks over bank A",
       "ncb1 = active\nncb1.bank = A\nncb1.seed = 9\n",
       {{"NCB0 rom at 0x026000, 0x4000 bytes", "CRC MISMATCH"},
        {"NCB1 rom at 0x026000, 0x4000 bytes", "CRC ok"}},
       {"nothing of this block lies here"},
       "NCB0 at 0x000000"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    const Picture picture = parsePicture(mapOf(c.description, dir), c.what);
    for (const auto& [title, last] : c.items) {
      const std::vector<std::string>* texts = findItem(picture, title);
      ASSERT_NE(texts, nullptr) << c.what << ": " << title;
      ASSERT_FALSE(texts->empty()) << c.what << ": " << title;
      EXPECT_EQ(texts->back(), last) << c.what << ": " << title;
    }
    for (const std::string& wanted : c.texts) {
      bool found = false;
      for (const std::string& text : picture.texts)
        found = found || text.starts_with(wanted);
      EXPECT_TRUE(found) << c.what << ": no text starting with " << wanted;
    }
    if (c.activeBox == nullptr) {
      EXPECT_TRUE(picture.activeBoxes.empty()) << c.what;
    } else {
      ASSERT_EQ(picture.activeBoxes.size(), 1u) << c.what;
      EXPECT_EQ(picture.activeBoxes[0], c.activeBox) << c.what;
    }
  }
}

TEST(HlvimageMap, AnyFileAndAnyFileNameGiveAWellFormedPicture) {
  struct Case {
    const char* what;
    std::vector<uint8_t> contents;
    std::string name;
  };
  const Case cases[] = {
      {"empty file", {}, "empty.bin"},
      {"one block of zeros", std::vector<uint8_t>(0x4000, 0x00), "zeros.bin"},
      {"all erased", std::vector<uint8_t>(0x200000, 0xFF), "erased.bin"},
      {"all 0x55", std::vector<uint8_t>(0x200000, 0x55), "fives.bin"},
      {"markup and quotes in the name", std::vector<uint8_t>(0x8000, 0xFF), "a<b>&\"c'.bin"},
      {"bytes that are not UTF-8 in the name", {0x01}, "dump\xFF\xFE\x01.bin"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    test::writeBinaryFile(dir / c.name, c.contents);
    const auto mapped =
        runProcess(builtProgram("hlvimage"), {"map", dir / c.name, "--svg", dir / "map.svg"});
    ASSERT_EQ(mapped.exitStatus, 0) << c.what << ": " << mapped.err;
    const Picture picture = parsePicture(test::readFile(dir / "map.svg"), c.what);
    ASSERT_FALSE(picture.texts.empty()) << c.what;
    EXPECT_TRUE(picture.texts[0].starts_with("Flash map: ")) << c.what;
    EXPECT_TRUE(picture.activeBoxes.empty()) << c.what;
  }
  // The title shows the name as it is, where the bytes allow.
  const Picture picture = parsePicture(mapOf("", dir, "a<b>&\"c'.bin"), "markup");
  ASSERT_FALSE(picture.texts.empty());
  EXPECT_EQ(picture.texts[0], "Flash map: a<b>&\"c'.bin");
}

}  // namespace
}  // namespace hlv
