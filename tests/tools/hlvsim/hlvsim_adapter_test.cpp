// hlvsim flash LAB BDF rollback | versions | backup | reload | keycheck, and update --reload: the
// adapter update interface on lab adapters as users run it, with what each prints, its exit
// status, the flash it leaves and the adapter's counters.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/flash_update_status.h"
#include "tests/engine/key_image.h"
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

std::string hex(const std::array<uint8_t, 32>& bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text;
}

// A lab with one adapter: its flash, its adapter.conf lines (appended to what lab init wrote)
// and an image file beside it. Each case of a table works in a directory of its own.
class HlvsimAdapter : public ::testing::Test {
 protected:
  void makeLab(const std::vector<uint8_t>& flash, const std::string& conf = "",
               const std::vector<uint8_t>& image = {}) {
    root_ = dir_ / ("case" + std::to_string(++cases_));
    const ProcessResult init = runHlvsim({"lab", "init", lab()});
    ASSERT_EQ(init.exitStatus, 0) << init.err;
    if (!flash.empty()) writeBinaryFile(flashFile(), flash);
    writeFile(confFile(), readFile(confFile()) + conf);
    writeBinaryFile(imageFile(), image);
  }
  std::string lab() const { return root_ + "/lab"; }
  std::string flashFile() const { return lab() + "/adapters/" + kBdf + "/flash.bin"; }
  std::string confFile() const { return lab() + "/adapters/" + kBdf + "/adapter.conf"; }
  std::string imageFile() const { return root_ + "/image.bin"; }
  std::string stats() const { return readFile(lab() + "/adapters/" + kBdf + "/stats"); }
  long long stat(const std::string& key) const { return statValue(stats(), key); }
  bool semaphoreLeftHeld() const {
    return stats().find("semaphore_held_at_exit = yes\n") != std::string::npos;
  }
  ProcessResult run(const std::vector<std::string>& subcommand) {
    std::vector<std::string> args = {"flash", lab(), kBdf};
    args.insert(args.end(), subcommand.begin(), subcommand.end());
    return runHlvsim(args);
  }

  TempDir dir_;
  std::string root_;
  int cases_ = 0;
};

TEST_F(HlvsimAdapter, UpdateWithReloadBringsTheNewFirmwareUp) {
  struct Case {
    const char* what;
    const char* conf;
    std::string out;
    int exitStatus;
    long long firmwareResets;
    long long firmwareBoots;
    long long phyRestarts;
  };
  const Case cases[] = {
      {"interface 1", "", "status 0\nreload 0\n", 0, 2, 1, 1},
      {"interface 2", "firmware = 2\n", "status 0\nreload 0\n", 0, 1, 1, 0},
      {"no firmware", "firmware = none\n", "status 0\nreload 39\n", 1, 0, 0, 0},
      {"a PHY that never becomes ready", "phy_stuck = yes\n", "status 0\nreload 36\n", 1, 1, 0, 1},
  };
  const UpdateCase u = sweepCase("type2_ncb1_active");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    makeLab(u.flash, c.conf, u.image);
    const ProcessResult result = run({"update", imageFile(), "--reload"});
    EXPECT_EQ(result.out, c.out) << result.err;
    EXPECT_EQ(result.exitStatus, c.exitStatus);
    EXPECT_EQ(readAsReader(readBinaryFile(flashFile())).version, kNewVersion);
    EXPECT_EQ(stat("violations"), 0) << stats();
    EXPECT_FALSE(semaphoreLeftHeld());
    EXPECT_EQ(stat("firmware_resets"), c.firmwareResets);
    EXPECT_EQ(stat("firmware_boots"), c.firmwareBoots);
    EXPECT_EQ(stat("phy_restarts"), c.phyRestarts);
  }
  // A failed update is not followed by a reload.
  makeLab(u.flash, "", std::vector<uint8_t>(0x1000, 0));
  const ProcessResult refused = run({"update", imageFile(), "--reload"});
  EXPECT_EQ(refused.out, "status " + std::to_string(statusNumber(kStatusImageInvalid)) + "\n");
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_EQ(stat("firmware_resets"), 0);
}

TEST_F(HlvsimAdapter, RollbackSwitchesToThePreviousFirmwareOrSaysWhyNot) {
  const UpdateCase u = sweepCase("type2_ncb0_active");
  makeLab(u.flash);
  const ProcessResult once = run({"rollback"});
  EXPECT_EQ(once.out, "status 0\n") << once.err;
  EXPECT_EQ(once.exitStatus, 0);
  EXPECT_TRUE(readBinaryFile(flashFile()) == referenceRollback(u.flash));
  EXPECT_EQ(stat("violations"), 0);
  EXPECT_EQ(run({"rollback"}).out, "status 0\n");
  EXPECT_TRUE(readBinaryFile(flashFile()) == u.flash) << "a second rollback restores the first";

  // A flash with no earlier firmware: the other block is erased.
  const std::vector<uint8_t> fresh = image::buildImage(image::ImageSpec{});
  makeLab(fresh);
  const ProcessResult refused = run({"rollback"});
  EXPECT_EQ(refused.out, "status " + std::to_string(statusNumber(kStatusNcbInvalid)) + "\n");
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_TRUE(readBinaryFile(flashFile()) == fresh);
}

TEST_F(HlvsimAdapter, VersionsPrintsTheCurrentAndThePreviousFirmware) {
  image::ImageSpec blank;
  blank.ncbs[0].erased = true;
  struct Case {
    const char* what;
    std::vector<uint8_t> flash;
    std::string out;
    int exitStatus;
  };
  const Case cases[] = {
      {"after an update", sweepCase("type2_ncb1_active").flash,
       "current 1.5.90\nprevious 1.4.0\nstatus 0\n", 0},
      {"no earlier firmware", image::buildImage(image::ImageSpec{}),
       "current 1.0.0\nprevious none\nstatus 0\n", 0},
      {"blank flash", image::buildImage(blank), "current none\nprevious none\nstatus 25\n", 1},
  };
  for (const Case& c : cases) {
    makeLab(c.flash);
    const ProcessResult result = run({"versions"});
    EXPECT_EQ(result.out, c.out) << c.what << ": " << result.err;
    EXPECT_EQ(result.exitStatus, c.exitStatus) << c.what;
  }
}

TEST_F(HlvsimAdapter, BackupWritesTheWholeFlash) {
  const UpdateCase u = sweepCase("type2_ncb0_active");
  makeLab(u.flash);
  const std::string out = root_ + "/backup.bin";
  const ProcessResult result = run({"backup", out});
  EXPECT_EQ(result.out, "status 0\n") << result.err;
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(readBinaryFile(out) == readBinaryFile(flashFile()));
  EXPECT_EQ(stat("violations"), 0);

  makeLab(u.flash, "part_stuck = yes\n");
  const ProcessResult stuck = run({"backup", out + ".2"});
  EXPECT_EQ(stuck.out, "status " + std::to_string(statusNumber(kStatusFlashInitFailed)) + "\n");
  EXPECT_EQ(stuck.exitStatus, 1);
  EXPECT_FALSE(fileExists(out + ".2"));
}

TEST_F(HlvsimAdapter, ReloadRunsTheSequenceOfTheFirmwaresInterface) {
  struct Case {
    const char* conf;
    uint32_t status;
  };
  const Case cases[] = {
      {"", 0},
      {"firmware = 2\n", 0},
      {"firmware = none\n", 39},
      {"firmware_stuck = yes\n", 35},
      {"firmware = 2\nfirmware_stuck = yes\n", 35},
      {"phy = no\n", 36},
      {"firmware = 2\nphy = no\n", 0},
      {"mdio_semaphore = held\n", 36},
      {"phy_address = 17\n", 0},
      // A firmware busy on the MDIO bus and resets slow to show, as set up in adapter.conf.
      {"firmware_mdio_every_us = 1000\nfirmware_reset_latency_us = 300000\n"
       "firmware_reset_jitter_us = 200000\nfirmware_reset_seed = 4\n",
       0},
      {"firmware = 2\nfirmware_mdio_every_us = 1000\nfirmware_reset_jitter_us = 200000\n", 0},
  };
  for (const Case& c : cases) {
    makeLab({}, c.conf);
    const ProcessResult result = run({"reload"});
    EXPECT_EQ(result.out, "status " + std::to_string(c.status) + "\n") << c.conf << result.err;
    EXPECT_EQ(result.exitStatus, c.status == 0 ? 0 : 1) << c.conf;
    EXPECT_EQ(stat("violations"), 0) << c.conf << stats();
    EXPECT_FALSE(semaphoreLeftHeld()) << c.conf;
  }
}

TEST_F(HlvsimAdapter, KeycheckFollowsTheFuses) {
  const std::vector<uint8_t> image = imageWithKey(sampleKey());
  std::array<uint8_t, 32> other = kSampleKeyDigest;
  other[0] ^= 0x80;
  const std::string fused = "chip_revision = 0x10A\nfuse_status = 0x1000\n";
  struct Case {
    const char* what;
    std::string conf;
    std::vector<uint8_t> image;
    bool accepted;
  };
  const Case cases[] = {
      {"a chip without key fuses", "fuse_digest = " + hex(other) + "\n", image, true},
      {"no key fused", "chip_revision = 0x10A\nfuse_digest = " + hex(other) + "\n", image, true},
      {"an empty digest fused", fused, imageWithKey({}), true},
      {"the image's digest fused", fused + "fuse_digest = " + hex(kSampleKeyDigest) + "\n", image,
       true},
      {"another digest fused", fused + "fuse_digest = " + hex(other) + "\n", image, false},
      {"an image without a key", fused + "fuse_digest = " + hex(kSampleKeyDigest) + "\n",
       imageWithKey({}), false},
      {"the fuses never free",
       fused + "fuse_digest = " + hex(kSampleKeyDigest) + "\nfuse_semaphore = held\n", image,
       false},
  };
  for (const Case& c : cases) {
    makeLab({}, c.conf, c.image);
    const ProcessResult result = run({"keycheck", imageFile()});
    EXPECT_EQ(result.out, c.accepted ? "key accepted\n" : "key refused\n") << c.what << result.err;
    EXPECT_EQ(result.exitStatus, c.accepted ? 0 : 1) << c.what;
    EXPECT_EQ(stat("violations"), 0) << c.what << stats();
    EXPECT_FALSE(semaphoreLeftHeld()) << c.what;
  }
}

// The operator's interrupt arrives right after the program was granted a hardware semaphore:
// the run ends with 41, as the tool's does, once the semaphore has been released.
TEST_F(HlvsimAdapter, AnInterruptWhileASemaphoreIsHeldEndsTheRunWithTheSemaphoreFree) {
  struct Case {
    const char* what;
    std::string conf;
    std::vector<std::string> command;
  };
  const Case cases[] = {
      {"the first grant of a reload", "interrupt_at_grant = 1\n", {"reload"}},
      {"a grant in the PHY restart", "interrupt_at_grant = 5\n", {"reload"}},
      {"the fuse check", "interrupt_at_grant = 1\nchip_revision = 0x10A\n", {"keycheck", "IMAGE"}},
  };
  for (const Case& c : cases) {
    makeLab({}, c.conf, imageWithKey(sampleKey()));
    std::vector<std::string> command = c.command;
    for (std::string& arg : command)
      if (arg == "IMAGE") arg = imageFile();
    const ProcessResult result = run(command);
    EXPECT_EQ(result.exitStatus, 41) << c.what << result.err;
    EXPECT_EQ(result.out, "") << c.what;
    EXPECT_FALSE(semaphoreLeftHeld()) << c.what << stats();
    EXPECT_EQ(stat("violations"), 0) << c.what;
  }
}

TEST_F(HlvsimAdapter, BadArgumentsAndMissingFunctionsAreRefused) {
  makeLab({});
  struct Case {
    std::vector<std::string> command;
    int exitStatus;
    const char* message;
  };
  const Case cases[] = {
      {{"rollback", "extra"}, 2, "rollback takes no arguments"},
      {{"versions", "extra"}, 2, "versions takes no arguments"},
      {{"reload", "extra"}, 2, "reload takes no arguments"},
      {{"backup"}, 2, "backup takes one argument"},
      {{"keycheck"}, 2, "keycheck takes one argument"},
      {{"keycheck", "/nonexistent/image.bin"}, 1, "cannot open"},
      {{"update", "IMAGE", "--reload", "--mac"}, 2, "unknown or incomplete option '--mac'"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> command = c.command;
    for (std::string& arg : command)
      if (arg == "IMAGE") arg = imageFile();
    const ProcessResult result = run(command);
    EXPECT_EQ(result.exitStatus, c.exitStatus) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "") << c.message;
  }
  // An adapter directory without a PCI function in the lab's sysfs.
  addLabAdapter(lab(), "0000:09:00.0", "");
  const ProcessResult missing = runHlvsim({"flash", lab(), "0000:09:00.0", "versions"});
  EXPECT_EQ(missing.exitStatus, 1);
  EXPECT_NE(missing.err.find("no PCI function of that address"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace hlv::test
