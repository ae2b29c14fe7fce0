// hlvsim flash LAB BDF update: the flash after the update equals the layout's result, refusals
// leave it as it was, and the output and exit status say what happened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/flash_update_status.h"
#include "tests/support/reference_layout.h"
#include "tests/engine/update_harness.h"
#include "tests/support/files.h"
#include "tests/support/subprocess.h"
#include "tests/support/temp_dir.h"
#include "tests/support/hlvsim_lab.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::test {
namespace {

const std::string kBdf = "0000:01:00.0";

std::string hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0xF];
  }
  return text;
}

std::vector<uint8_t> withRecord(std::vector<uint8_t> blob, std::size_t terminator,
                                const std::vector<uint8_t>& record) {
  if (!blob.empty()) blob.resize(blob.size() - terminator);
  blob.insert(blob.end(), record.begin(), record.end());
  return blob;
}

// A lab with one adapter holding `flash`, and the image in a file next to it.
class HlvsimUpdate : public ::testing::Test {
 protected:
  void makeLab(const std::vector<std::string>& initOptions, const std::vector<uint8_t>& flash,
               const std::vector<uint8_t>& image) {
    std::vector<std::string> args = {"lab", "init", lab()};
    args.insert(args.end(), initOptions.begin(), initOptions.end());
    const ProcessResult init = runHlvsim(args);
    ASSERT_EQ(init.exitStatus, 0) << init.err;
    writeBinaryFile(flashFile(), flash);
    writeBinaryFile(imageFile(), image);
  }
  // Each case of a table works in a directory of its own.
  void nextCase() { root_ = dir_ / ("case" + std::to_string(++cases_)); }
  std::string at(const std::string& relative) const { return root_ + "/" + relative; }
  std::string lab() const { return at("lab"); }
  std::string flashFile() const { return at("lab/adapters/" + kBdf + "/flash.bin"); }
  std::string conf() const { return at("lab/adapters/" + kBdf + "/adapter.conf"); }
  std::string imageFile() const { return at("image.bin"); }
  std::string stats() const { return readFile(at("lab/adapters/" + kBdf + "/stats")); }
  ProcessResult update(const std::vector<std::string>& options = {}) {
    std::vector<std::string> args = {"flash", lab(), kBdf, "update", imageFile()};
    args.insert(args.end(), options.begin(), options.end());
    return runHlvsim(args);
  }

  TempDir dir_;
  std::string root_ = dir_.path();
  int cases_ = 0;
};

TEST_F(HlvsimUpdate, TheFlashAfterTheUpdateIsTheLayoutsResult) {
  struct Case {
    const char* what;
    const char* flash;
    std::vector<std::string> init;
    bool legacy;  // subsystem 0x1E9C/0x0001: the records are appended to the blobs
    bool flagE;   // the flag the flash's active block records in areaE
  };
  const Case cases[] = {
      {"type-2 flash, legacy board", "type2_ncb0_active", {}, true, false},
      {"type-2 flash, other board",
       "type2_ncb1_active",
       {"--subsystem-vendor", "0x1028"},
       false,
       false},
      {"type-1 flash, transformed first", "row5_ncb1_active_free_a", {}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    nextCase();
    const UpdateCase u = sweepCase(c.flash);
    makeLab(c.init, u.flash, u.image);
    const ProcessResult result = update({"--mac", hex(u.blobD), "--phy", hex(u.blobE)});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out, "status 0\n");
    const std::vector<uint8_t> areaD =
        c.legacy ? withRecord(u.blobD, 4, image::areaDRecord(false)) : u.blobD;
    const std::vector<uint8_t> areaE =
        c.legacy ? withRecord(u.blobE, 2, image::areaERecord(c.flagE)) : u.blobE;
    EXPECT_TRUE(readBinaryFile(flashFile()) == referenceUpdate(u.flash, u.image, areaD, areaE));
    EXPECT_EQ(statValue(stats(), "violations"), 0) << stats();
  }
}

TEST_F(HlvsimUpdate, WithoutBlobsTheAreasHoldTheRecordsAlone) {
  const UpdateCase u = sweepCase("type2_ncb0_active");
  makeLab({}, u.flash, u.image);
  const ProcessResult result = update();
  EXPECT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_TRUE(readBinaryFile(flashFile()) == referenceUpdate(u.flash, u.image,
                                                             image::areaDRecord(false),
                                                             image::areaERecord(false)));
}

TEST_F(HlvsimUpdate, ARefusedUpdatePrintsItsStatusAndLeavesTheFlash) {
  struct Case {
    const char* what;
    std::vector<std::string> options;
    bool badImage;
    FlashUpdateStatus status;
  };
  const Case cases[] = {
      {"an image component not matching its CRC", {}, true, kStatusComponentCrcMismatch},
      {"a blob D too short for its terminator", {"--mac", "0102"}, false, kStatusNcbNotUsable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    nextCase();
    const UpdateCase u = sweepCase("type2_ncb0_active");
    image::ImageSpec spec = smallUpdateImageSpec();
    if (c.badImage) spec.ncbs[0].romCrc.kind = image::CrcSpec::Kind::kBad;
    makeLab({}, u.flash, image::buildImage(spec));
    const ProcessResult result = update(c.options);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "status " + std::to_string(statusNumber(c.status)) + "\n");
    EXPECT_TRUE(readBinaryFile(flashFile()) == u.flash);
  }
}

TEST_F(HlvsimUpdate, APowerCutLeavesAUsableFlashAndTheNextRunCompletesTheUpdate) {
  const UpdateCase u = sweepCase("row4_ncb0_active_free_a");
  makeLab({}, u.flash, u.image);
  writeFile(conf(), readFile(conf()) + "power_cut_after = 150\n");
  const ProcessResult cut = update();
  EXPECT_EQ(cut.exitStatus, 1);
  EXPECT_NE(cut.out, "status 0\n");
  EXPECT_NE(cut.err.find("lost power"), std::string::npos) << cut.err;
  const FlashReading left = readAsReader(readBinaryFile(flashFile()));
  EXPECT_TRUE(left.usable) << left.problem;

  std::string withoutCut = readFile(conf());
  withoutCut.erase(withoutCut.find("power_cut_after"));
  writeFile(conf(), withoutCut);
  const ProcessResult again = update();
  EXPECT_EQ(again.exitStatus, 0) << again.err;
  EXPECT_EQ(again.out, "status 0\n");
  const FlashReading reading = readAsReader(readBinaryFile(flashFile()));
  EXPECT_TRUE(reading.usable) << reading.problem;
  EXPECT_EQ(reading.version, kNewVersion);
}

TEST_F(HlvsimUpdate, BadArgumentsAreRefusedBeforeTheFlashIsTouched) {
  struct Case {
    const char* what;
    std::vector<std::string> args;  // after "update"
    int exitStatus;
  };
  const Case cases[] = {
      {"no image", {}, 2},
      {"odd hex digits", {"IMAGE", "--mac", "123"}, 2},
      {"not hex", {"IMAGE", "--phy", "zz"}, 2},
      {"an unknown option", {"IMAGE", "--rom", "00"}, 2},
      {"an option without its value", {"IMAGE", "--mac"}, 2},
      {"an image that does not exist", {"MISSING"}, 1},
  };
  const UpdateCase u = sweepCase("type2_ncb0_active");
  makeLab({}, u.flash, u.image);
  for (const Case& c : cases) {
    std::vector<std::string> args = {"flash", lab(), kBdf, "update"};
    for (const std::string& arg : c.args)
      args.push_back(arg == "IMAGE" ? imageFile() : arg == "MISSING" ? at("none.bin") : arg);
    const ProcessResult result = runHlvsim(args);
    EXPECT_EQ(result.exitStatus, c.exitStatus) << c.what << ": " << result.err;
    EXPECT_EQ(result.out, "") << c.what;
    EXPECT_NE(result.err.find("hlvsim: "), std::string::npos) << c.what;
  }
  EXPECT_TRUE(readBinaryFile(flashFile()) == u.flash);
}

}  // namespace
}  // namespace hlv::test
