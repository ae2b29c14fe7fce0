// The JSON of `hlvimage info` and `hlvimage diff`, member by member and in order, against what
// they wrote before their JSON went through the JSON library (tests/tools/hlvimage/expected/):
// scripts that read these outputs keep finding every field where it was, with the same value.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/json_reader.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::JsonValue;

// Empty when both values are the same (numbers by their text, object members in order),
// otherwise where they first differ.
std::string difference(const JsonValue& a, const JsonValue& b, const std::string& where) {
  if (a.type() != b.type()) return where + ": types differ";
  switch (a.type()) {
    case JsonValue::Type::kNull:
      return "";
    case JsonValue::Type::kBool:
      return a.boolean() == b.boolean() ? "" : where + ": " + (a.boolean() ? "true" : "false");
    case JsonValue::Type::kNumber:
    case JsonValue::Type::kString:
      return a.text() == b.text() ? "" : where + ": " + a.text() + " against " + b.text();
    case JsonValue::Type::kArray:
      if (a.items().size() != b.items().size()) return where + ": lengths differ";
      for (std::size_t i = 0; i < a.items().size(); ++i) {
        const std::string found = difference(a[i], b[i], where + "[" + std::to_string(i) + "]");
        if (!found.empty()) return found;
      }
      return "";
    case JsonValue::Type::kObject:
      if (a.members().size() != b.members().size()) return where + ": member counts differ";
      for (std::size_t i = 0; i < a.members().size(); ++i) {
        const auto& [keyA, valueA] = a.members()[i];
        const auto& [keyB, valueB] = b.members()[i];
        if (keyA != keyB) return where + ": member " + keyA + " against " + keyB;
        const std::string found = difference(valueA, valueB, where + "." + keyA);
        if (!found.empty()) return found;
      }
      return "";
  }
  return where + ": ?";
}

JsonValue parsed(const std::string& text, const std::string& what) {
  std::string error;
  const std::optional<JsonValue> value = test::parseJson(text, error);
  EXPECT_TRUE(value) << what << ": " << error;
  return value.value_or(JsonValue());
}

TEST(HlvimageJson, InfoAndDiffWriteEveryMemberAsBeforeInTheSameOrder) {
  test::TempDir directory;
  test::ProcessOptions inDirectory;
  inDirectory.workDir = directory.path();
  // A type-2 image; the flash after an update to 1.6.2, cut short and damaged in bank B; the
  // first image with its option ROM moved and damaged, a shorter area D and a free area.
  const std::vector<std::pair<std::string, std::string>> images = {
      {"a", "version = 1.5.86\ndevice_id = 0x21C3\n"},
      {"b",
       "ncb0 = deactivated\nncb1 = active\nncb0.version = 1.5.86\nncb1.version = 1.6.2\n"
       "device_id = 0x21C3\nncb1.free = 0x160000 0x2000\npoke = 0x105000 00 00\n"
       "image_size = 0x1F0000\n"},
      {"c",
       "version = 1.5.86\ndevice_id = 0x21C3\nrom_offset = 0x50000\npoke = 0x50000 00 00\n"
       "area_d = bytes 00112234\nncb0.free = 0x160000 0x2000\n"},
  };
  for (const auto& [name, description] : images) {
    test::writeFile(directory.path() + "/" + name + ".desc", description);
    const test::ProcessResult built = test::runProcess(
        test::builtProgram("hlvimage"), {"build", name + ".desc", name + ".bin"}, inDirectory);
    ASSERT_EQ(built.exitStatus, 0) << name << ": " << built.err;
  }
  struct Case {
    std::vector<std::string> args;
    const char* expected;
  };
  const Case cases[] = {
      {{"diff", "a.bin", "b.bin", "--json"}, "diff_after_update.json"},
      {{"diff", "a.bin", "c.bin", "--json"}, "diff_moved_component.json"},
      {{"info", "b.bin", "--json"}, "info_after_update.json"},
  };
  for (const Case& c : cases) {
    const test::ProcessResult run =
        test::runProcess(test::builtProgram("hlvimage"), c.args, inDirectory);
    EXPECT_TRUE(run.out.ends_with("}\n")) << c.expected;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << c.expected << ": not one line";
    const std::string expected = test::readFile(std::string(HLV_SOURCE_DIR) +
                                                "/tests/tools/hlvimage/expected/" + c.expected);
    EXPECT_EQ(difference(parsed(run.out, c.expected), parsed(expected, c.expected), "$"), "")
        << c.expected << "\n"
        << run.out;
  }
}

}  // namespace
}  // namespace hlv
