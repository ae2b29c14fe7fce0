// `hlvimage build` and `hlvimage info` as users and other tests run them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/json_reader.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

using test::builtProgram;
using test::runProcess;

// A top-level member of the one-object report as JSON text ("null", "true", "0", "\"1.5.87\"");
// "<missing>" when the report has no such member or is no JSON.
std::string field(const std::string& json, const std::string& key) {
  std::string error;
  const std::optional<test::JsonValue> report = test::parseJson(json, error);
  if (!report || !report->has(key)) return "<missing>";
  const test::JsonValue& value = (*report)[key];
  switch (value.type()) {
    case test::JsonValue::Type::kNull:
      return "null";
    case test::JsonValue::Type::kBool:
      return value.boolean() ? "true" : "false";
    case test::JsonValue::Type::kString:
      return "\"" + value.text() + "\"";
    case test::JsonValue::Type::kNumber:
      return value.text();
    default:
      return "<not a scalar>";
  }
}

struct Expected {
  std::string activeNcb, layout, version, previousVersion, componentsOk, imageStatus, imageVersion,
      type;
};

void expectReport(const std::string& json, const Expected& e, const std::string& what) {
  EXPECT_EQ(field(json, "active_ncb"), e.activeNcb) << what;
  EXPECT_EQ(field(json, "layout"), e.layout) << what;
  EXPECT_EQ(field(json, "version"), e.version) << what;
  EXPECT_EQ(field(json, "previous_version"), e.previousVersion) << what;
  EXPECT_EQ(field(json, "components_ok"), e.componentsOk) << what;
  EXPECT_EQ(field(json, "image_status"), e.imageStatus) << what;
  EXPECT_EQ(field(json, "image_version"), e.imageVersion) << what;
  EXPECT_EQ(field(json, "type"), e.type) << what;
}

test::ProcessResult info(const std::string& path) {
  return runProcess(builtProgram("hlvimage"), {"info", path, "--json"});
}

TEST(HlvimageInfo, ReportsWhatAReaderAndTheImageCheckFind) {
  struct Case {
    const char* what;
    const char* description;
    Expected expected;
  };
  const Case cases[] = {
      {"update image",
       "version = 1.5.87\n",
       {"0", "2", "\"1.5.87\"", "null", "true", "0", "\"1.5.87\"", "1"}},
      {"flash after an update",
       "ncb0 = deactivated\nncb1 = active\nncb0.version = 1.2.3\nncb1.version = 2.0.0\n"
       "device_id = 0x21C3\n",
       {"1", "2", "\"2.0.0\"", "\"1.2.3\"", "true", "0", "\"2.0.0\"", "2"}},
      {"both active",
       "ncb1 = active\nncb1.version = 3.0.0\n",
       {"0", "2", "\"1.0.0\"", "\"3.0.0\"", "true", "0", "\"1.0.0\"", "1"}},
      {"type-1 flash",
       "ncb0.layout = type1\n",
       {"0", "1", "\"1.0.0\"", "null", "true", "0", "\"1.0.0\"", "1"}},
      {"NCB0 over bank A with a free area in bank B",
       "ncb0.free = 0x104000 0xFC000\n",
       {"0", "2", "\"1.0.0\"", "null", "true", "0", "\"1.0.0\"", "1"}},
      {"NCB1 over bank A with a free area",
       "ncb0 = deactivated\nncb1 = active\nncb1.bank = A\nncb1.free = 0x150000 0x1000\n"
       "ncb0.bank = B\n",
       {"1", "1", "\"1.0.0\"", "\"1.0.0\"", "true", "0", "\"1.0.0\"", "1"}},
      {"type-1 flash with an absent ROM",
       "ncb0.layout = type1\nrom_size = 0\n",
       {"0", "1", "\"1.0.0\"", "null", "true", "0", "\"1.0.0\"", "1"}},
      {"damaged PHY firmware",
       "phy_crc = bad\n",
       {"0", "2", "\"1.0.0\"", "null", "false", "0", "\"1.0.0\"", "1"}},
      {"active NCB0 with a bad CRC, NCB1 good",
       "ncb0.crc = bad\nncb1 = active\nncb1.version = 2.2.2\n",
       {"null", "null", "null", "\"2.2.2\"", "null", "0", "\"2.2.2\"", "1"}},
      {"active NCB0 with a bad structure",
       "ncb0.rom_offset = 0x7000\n",
       {"null", "null", "null", "null", "null", "0", "\"1.0.0\"", "1"}},
      {"no block active",
       "ncb0 = deactivated\n",
       {"null", "null", "null", "null", "null", "27", "null", "null"}},
      {"marked unusable",
       "magic = yes\n",
       {"null", "null", "null", "null", "null", "0", "\"1.0.0\"", "1"}},
      {"version out of range",
       "version = 7.0.0\n",
       {"0", "2", "null", "null", "true", "14", "null", "1"}},
      {"MAC part 2 too short",
       "mac2_size = 0x127\n",
       {"0", "2", "null", "null", "true", "14", "null", "1"}},
      {"huge offsets with their CRC sealed",
       "mac2_offset = 0xFFFFFF\nmac2_size = 0xFFFFFF\nphy1_offset = 0xFFFFF0\n",
       {"null", "null", "null", "null", "null", "14", "null", "1"}},
      {"size field beyond the block",
       "ncb0.size = 0xFFFF\n",
       {"null", "null", "null", "null", "null", "27", "null", "null"}},
      {"truncated to 1 MiB",
       "image_size = 0x100000\n",
       {"0", "2", "\"1.0.0\"", "null", "true", "27", "null", "null"}},
      {"truncated inside NCB1",
       "image_size = 0x6000\n",
       {"null", "null", "null", "null", "null", "27", "null", "null"}},
      {"40 MiB file",
       "image_size = 0x2800000\n",
       {"0", "2", "\"1.0.0\"", "null", "true", "0", "\"1.0.0\"", "1"}},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    test::writeFile(dir / "image.desc", c.description);
    const auto built =
        runProcess(builtProgram("hlvimage"), {"build", dir / "image.desc", dir / "image.bin"});
    ASSERT_EQ(built.exitStatus, 0) << c.what << ": " << built.err;
    const auto result = info(dir / "image.bin");
    ASSERT_EQ(result.exitStatus, 0) << c.what << ": " << result.err;
    EXPECT_EQ(result.err, "") << c.what;
    expectReport(result.out, c.expected, c.what);
  }
}

TEST(HlvimageInfo, ArbitraryFilesGiveAReportAndNoCrash) {
  struct Case {
    const char* what;
    std::vector<uint8_t> contents;
    std::string activeNcb;
  };
  std::vector<uint8_t> good = image::buildImage(image::ImageSpec());
  const Case cases[] = {
      {"empty", {}, "null"},
      {"one byte", {0xFF}, "null"},
      {"one block", std::vector<uint8_t>(good.begin(), good.begin() + 0x4000), "null"},
      {"one byte short of both blocks", std::vector<uint8_t>(good.begin(), good.begin() + 0x7FFF),
       "null"},
      {"one byte short of the flash size", std::vector<uint8_t>(good.begin(), good.end() - 1), "0"},
      {"all 0xFF", std::vector<uint8_t>(0x200000, 0xFF), "null"},
      {"all zero", std::vector<uint8_t>(0x200000, 0x00), "null"},
      {"all 0x55", std::vector<uint8_t>(0x200000, 0x55), "null"},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    test::writeBinaryFile(dir / "file.bin", c.contents);
    const auto result = info(dir / "file.bin");
    ASSERT_EQ(result.exitStatus, 0) << c.what << ": " << result.err;
    EXPECT_EQ(field(result.out, "active_ncb"), c.activeNcb) << c.what;
    EXPECT_EQ(field(result.out, "image_status"), "27") << c.what;
    EXPECT_EQ(field(result.out, "type"), "null") << c.what;
    const auto text = runProcess(builtProgram("hlvimage"), {"info", dir / "file.bin"});
    EXPECT_EQ(text.exitStatus, 0) << c.what << ": " << text.err;
    EXPECT_NE(text.out.find("as an update image: status 27"), std::string::npos) << c.what;
  }
}

TEST(HlvimageInfo, TheTextReportNamesWhatIsWrong) {
  test::TempDir dir;
  test::writeFile(dir / "image.desc", "ncb1 = active\nncb1.crc = bad\nncb0.mac_crc = 0x1234\n");
  ASSERT_EQ(runProcess(builtProgram("hlvimage"), {"build", dir / "image.desc", dir / "image.bin"})
                .exitStatus,
            0);
  const auto result = runProcess(builtProgram("hlvimage"), {"info", dir / "image.bin"});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  for (const char* line :
       {"NCB0 at 0x000000: active, valid", "NCB1 at 0x004000: active, invalid: CRC mismatch",
        "mac crc 0x1234: MISMATCH", "flash reader takes NCB0", "components DAMAGED",
        "as an update image: status 0"}) {
    EXPECT_NE(result.out.find(line), std::string::npos) << line << " in\n" << result.out;
  }
}

TEST(Hlvimage, UsageAndFileErrorsAreReportedWithTheirOwnStatus) {
  test::TempDir dir;
  test::writeFile(dir / "bad.desc", "version = 1.0.0\nwidth = 3\n");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"no command", {}, 2, "usage: hlvimage"},
      {"unknown option", {"info", dir / "x", "--xml"}, 2, "usage: hlvimage"},
      {"missing file", {"info", dir / "missing.bin"}, 1, "cannot read"},
      {"directory", {"info", dir.path()}, 1, "cannot read"},
      {"bad description",
       {"build", dir / "bad.desc", dir / "out.bin"},
       1,
       "line 2: unknown key 'width'"},
      {"missing description", {"build", dir / "none.desc", dir / "out.bin"}, 1, "cannot read"},
      {"map without --svg", {"map", dir / "bad.desc", dir / "out.svg"}, 2, "usage: hlvimage"},
      {"map of a missing file",
       {"map", dir / "missing.bin", "--svg", dir / "out.svg"},
       1,
       "cannot read"},
      {"map into a missing directory",
       {"map", dir / "bad.desc", "--svg", dir / "no/such/dir/out.svg"},
       1,
       "cannot write"},
      {"unwritable output", {"build", dir / "bad.desc", dir / "no/such/dir/out.bin"}, 1, ""},
  };
  for (const Case& c : cases) {
    const auto result = runProcess(builtProgram("hlvimage"), c.args);
    EXPECT_EQ(result.exitStatus, c.status) << c.what;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << c.what << ": " << result.err;
  }
  EXPECT_FALSE(test::fileExists(dir / "out.bin"));
}

}  // namespace
}  // namespace hlv
