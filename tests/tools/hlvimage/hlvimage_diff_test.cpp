// `hlvimage diff A B [--json]`: which fields, components, areas and regions differ between two
// images or flash dumps, with exit status 0 identical, 1 different, 2 trouble.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/json_reader.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::builtProgram;
using test::runProcess;

struct Region {
  std::string name;
  uint64_t differingBytes;
  uint64_t firstDifference;
};

struct Expected {
  std::set<std::string> fields;  // "category/field" of every difference outside the regions
  std::vector<Region> regions;   // every differing region, in flash order
};

TEST(HlvimageDiff, NamesExactlyWhatDiffersBetweenTwoImages) {
  // The running firmware before an update, as a backup would hold it.
  const std::string before = "version = 1.5.86\ndevice_id = 0x21C3\n";
  struct Case {
    const char* what;
    std::string a, b;
    Expected expected;
  };
  const Case cases[] = {
      {"the same image built twice", before, before, {}},
      {"backup against the flash after an update: bank A untouched",
       before,
       "ncb0 = deactivated\nncb1 = active\nncb0.version = 1.5.86\nncb1.version = 1.6.2\n"
       "device_id = 0x21C3\n",
       // The state bits lie outside the block's CRC: deactivating NCB0 changes one byte.
       {{"image/active_ncb", "image/version", "image/previous_version", "image/image_version",
         "ncb/ncb0.state", "ncb/ncb1.state", "ncb/ncb1.validity"},
        {{"ncb0", 1, 0x3}, {"ncb1", 0x4000, 0x4000}, {"bankB", 138732, 0x104000}}}},
      {"two bytes of the option ROM changed, its CRC field not",
       before,
       before + "poke = 0x27000 00 00\n",
       {{"image/components_ok", "component/ncb0.rom.bytes", "component/ncb0.rom.crc"},
        {{"bankA", 2, 0x27000}}}},
      {"the MAC configuration record of areaD",
       "area_d = bytes 00112233\n",
       "area_d = bytes 00112234\n",
       {{"ncb/ncb0.crc", "area/ncb0.areaD.bytes"}, {{"ncb0", 3, 0x0}}}},
      {"a free area moved",
       "ncb0.free = 0x150000 0x1000\n",
       "ncb0.free = 0x160000 0x2000\n",
       {{"ncb/ncb0.crc", "area/ncb0.freeArea.offset", "area/ncb0.freeArea.size",
         "area/ncb0.freeArea.bytes"},
        {{"ncb0", 4, 0x0}}}},
      {"a component moved with the same bytes",
       "rom_offset = 0x40000\n",
       "rom_offset = 0x50000\n",
       // Bank A differs where the ROM was and where it is now: 2 x 0x4000 bytes, less the 65
       // bytes of the ROM that are 0xFF like the erased flash beside it, in each place.
       {{"ncb/ncb0.crc", "component/ncb0.rom.offset"},
        {{"ncb0", 3, 0x0}, {"bankA", 2 * 0x4000 - 130, 0x40000}}}},
      {"a 4 MiB dump against a 2 MiB image",
       before,
       before + "image_size = 0x400000\n",
       {{"file/file_size"}, {{"beyond", 0x200000, 0x200000}}}},
      {"a dump cut inside bank B",
       before,
       before + "image_size = 0x180000\n",
       {{"file/file_size", "image/image_status", "image/image_version", "image/type"},
        {{"bankB", 0x80000, 0x180000}}}},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    test::writeFile(dir / "a.desc", c.a);
    test::writeFile(dir / "b.desc", c.b);
    for (const char* side : {"a", "b"}) {
      const auto built = runProcess(
          builtProgram("hlvimage"),
          {"build", dir / (std::string(side) + ".desc"), dir / (std::string(side) + ".bin")});
      ASSERT_EQ(built.exitStatus, 0) << c.what << ": " << built.err;
    }
    const bool identical = c.expected.fields.empty() && c.expected.regions.empty();
    const auto json =
        runProcess(builtProgram("hlvimage"), {"diff", dir / "a.bin", dir / "b.bin", "--json"});
    EXPECT_EQ(json.exitStatus, identical ? 0 : 1) << c.what << ": " << json.err;
    std::string error;
    const std::optional<test::JsonValue> report = test::parseJson(json.out, error);
    ASSERT_TRUE(report) << c.what << ": " << error << "\n" << json.out;
    EXPECT_EQ((*report)["identical"].boolean(), identical) << c.what;
    EXPECT_EQ((*report)["a"]["path"].text(), dir / "a.bin") << c.what;
    std::set<std::string> fields;
    std::vector<Region> regions;
    for (const test::JsonValue& difference : (*report)["differences"].items()) {
      const std::string category = difference["category"].text();
      if (category == "region") {
        regions.push_back({difference["field"].text(), *difference["differing_bytes"].asUint64(),
                           *difference["first_difference"].asUint64()});
      } else {
        EXPECT_TRUE(difference.has("a") && difference.has("b")) << c.what;
        fields.insert(category + "/" + difference["field"].text());
      }
    }
    EXPECT_EQ(fields, c.expected.fields) << c.what;
    ASSERT_EQ(regions.size(), c.expected.regions.size()) << c.what;
    for (std::size_t i = 0; i < regions.size(); ++i) {
      EXPECT_EQ(regions[i].name, c.expected.regions[i].name) << c.what;
      EXPECT_EQ(regions[i].differingBytes, c.expected.regions[i].differingBytes)
          << c.what << ": " << regions[i].name;
      EXPECT_EQ(regions[i].firstDifference, c.expected.regions[i].firstDifference)
          << c.what << ": " << regions[i].name;
    }

    // The text output lists the same fields, and ends with the verdict.
    const auto text = runProcess(builtProgram("hlvimage"), {"diff", dir / "a.bin", dir / "b.bin"});
    EXPECT_EQ(text.exitStatus, identical ? 0 : 1) << c.what;
    for (const std::string& field : fields) {
      const std::string name = field.substr(field.find('/') + 1);
      EXPECT_NE(text.out.find("\n  " + name), std::string::npos) << c.what << ": " << name;
    }
    for (const Region& region : regions)
      EXPECT_NE(text.out.find("\n  " + region.name + " ("), std::string::npos) << c.what;
    const std::size_t count = fields.size() + regions.size();
    const std::string verdict = count == 0   ? "identical\n"
                                : count == 1 ? "1 difference\n"
                                             : std::to_string(count) + " differences\n";
    EXPECT_TRUE(text.out.ends_with(verdict)) << c.what << ":\n" << text.out;
  }
}

TEST(HlvimageDiff, ShowsBothValuesOfAField) {
  test::TempDir dir;
  test::writeFile(dir / "a.desc", "version = 1.5.86\n");
  test::writeFile(dir / "b.desc", "ncb0 = deactivated\nncb1 = active\nncb1.rom_crc = bad\n");
  for (const char* side : {"a", "b"}) {
    ASSERT_EQ(runProcess(builtProgram("hlvimage"), {"build", dir / (std::string(side) + ".desc"),
                                                    dir / (std::string(side) + ".bin")})
                  .exitStatus,
              0);
  }
  const auto text = runProcess(builtProgram("hlvimage"), {"diff", dir / "a.bin", dir / "b.bin"});
  EXPECT_EQ(text.exitStatus, 1);
  for (const char* line :
       {"  active_ncb: NCB0 -> NCB1\n", "  version: 1.5.86 -> 1.0.0\n",
        "  components_ok: ok -> DAMAGED\n", "  ncb0.state: active -> deactivated\n",
        "  ncb1.state: erased -> active\n"}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "in\n" << text.out;
  }
  const auto json =
      runProcess(builtProgram("hlvimage"), {"diff", dir / "a.bin", dir / "b.bin", "--json"});
  std::string error;
  const auto report = test::parseJson(json.out, error);
  ASSERT_TRUE(report) << error;
  bool seen = false;
  for (const test::JsonValue& difference : (*report)["differences"].items()) {
    if (difference["field"].text() != "active_ncb") continue;
    seen = true;
    EXPECT_EQ(difference["a"].asUint64(), 0u);
    EXPECT_EQ(difference["b"].asUint64(), 1u);
  }
  EXPECT_TRUE(seen);
}

TEST(HlvimageDiff, TroubleEndsWithStatusTwo) {
  test::TempDir dir;
  test::writeBinaryFile(dir / "a.bin", std::vector<uint8_t>(16, 0xFF));
  test::writeBinaryFile(dir / "quote\"d.bin", std::vector<uint8_t>(16, 0xFF));
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {"second file missing", {"diff", dir / "a.bin", dir / "missing.bin"}, 2, "cannot read"},
      {"first file missing", {"diff", dir / "missing.bin", dir / "a.bin"}, 2, "cannot read"},
      {"a directory", {"diff", dir.path(), dir / "a.bin"}, 2, "cannot read"},
      {"one file only", {"diff", dir / "a.bin"}, 2, "usage: hlvimage"},
      {"unknown option", {"diff", dir / "a.bin", dir / "a.bin", "--xml"}, 2, "usage: hlvimage"},
      {"identical small files, one with a quote in its name",
       {"diff", dir / "a.bin", dir / "quote\"d.bin", "--json"},
       0,
       ""},
  };
  for (const Case& c : cases) {
    const auto result = runProcess(builtProgram("hlvimage"), c.args);
    EXPECT_EQ(result.exitStatus, c.status) << c.what << ": " << result.err;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.what << ": " << result.err;
    if (c.status == 0) {
      std::string error;
      EXPECT_TRUE(test::parseJson(result.out, error)) << c.what << ": " << error;
    }
  }
}

}  // namespace
}  // namespace hlv
