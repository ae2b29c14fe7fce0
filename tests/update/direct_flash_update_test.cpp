// The adapter update interface on lab adapters: the same object the tool holds per adapter,
// reaching the emulated adapter through the lab's sysfs and register window.
#include "update/direct_flash_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "device/register_map.h"
#include "engine/flash_update_status.h"
#include "platform/platform.h"
#include "sim/lab.h"
#include "sim/lab_platform.h"
#include "sim/lab_writer.h"
#include "tests/support/reference_layout.h"
#include "tests/engine/update_harness.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv {
namespace {

const std::string kBdf = "0000:01:00.0";
const std::string kSysfsPath = "/sys/bus/pci/devices/" + kBdf;

std::string text(const std::vector<uint8_t>& bytes) {
  return {bytes.begin(), bytes.end()};
}

// A lab with one adapter holding `flash`, its platform installed for the test.
class LabAdapter {
 public:
  explicit LabAdapter(const std::vector<uint8_t>& flash,
                      const std::function<void(sim::LabFunction&)>& change = {}) {
    sim::LabDescription description = sim::defaultLab(1, {});
    if (change) change(description.adapters[0]);
    const Result<> written = sim::writeLab(dir_ / "lab", description);
    EXPECT_TRUE(written) << written.error();
    Result<std::unique_ptr<sim::Lab>> opened = sim::Lab::open(dir_ / "lab");
    EXPECT_TRUE(opened) << opened.error();
    if (opened) lab_ = std::move(*opened);
    std::span<uint8_t> file = lab_->adapter(kBdf)->flashFile.bytes();
    std::copy(flash.begin(), flash.begin() + std::min(flash.size(), file.size()), file.begin());
    platform_ = std::make_unique<sim::LabPlatform>(*lab_);
    scope_ = std::make_unique<platform::ScopedPlatform>(*platform_);
  }
  ~LabAdapter() {
    scope_.reset();
    platform_.reset();
  }

  sim::EmulatedAdapter& adapter() { return *lab_->adapter(kBdf)->adapter; }
  std::vector<uint8_t> flash() {
    std::span<uint8_t> file = lab_->adapter(kBdf)->flashFile.bytes();
    return {file.begin(), file.end()};
  }
  std::string file(const std::string& name, const std::vector<uint8_t>& bytes) const {
    test::writeBinaryFile(dir_ / name, bytes);
    return dir_ / name;
  }
  int liveMappings() const { return platform_->liveMappings(); }

 private:
  test::TempDir dir_;
  std::unique_ptr<sim::Lab> lab_;
  std::unique_ptr<sim::LabPlatform> platform_;
  std::unique_ptr<platform::ScopedPlatform> scope_;
};

TEST(DirectFlashUpdate, ADeviceLessInstanceChecksImagesAndRefusesTheRest) {
  test::TempDir dir;
  test::writeBinaryFile(dir / "image.bin", image::buildImage(test::smallUpdateImageSpec()));
  VoImageFile image(dir / "image.bin");
  DirectFlashUpdate updater;
  EXPECT_FALSE(updater.isReady());
  EXPECT_FALSE(updater.isEligible());
  uint32_t type = 77;
  EXPECT_EQ(updater.getAdapterType(type), 0u);
  EXPECT_EQ(type, 77u);
  EXPECT_EQ(updater.inspectImage(image), 0u);
  EXPECT_EQ(image.version(), test::kNewVersion);
  EXPECT_EQ(updater.checkImageKey(image), 0u);
  EXPECT_EQ(updater.update(image.data(), image.size(), "", ""),
            statusNumber(kStatusFlashInitFailed));
  EXPECT_EQ(updater.reloadFirmware(false), statusNumber(kStatusAdapterNotUpdated));
  uint32_t required = 0;
  EXPECT_EQ(updater.readFlashContents(nullptr, 0, required), statusNumber(kStatusFlashInitFailed));
  EXPECT_EQ(updater.rollbackFirmware(), statusNumber(kStatusFlashReadFailed));
  FirmwareVersion current{9, 9, 9};
  EXPECT_EQ(updater.getFirmwareVersions(current, nullptr), statusNumber(kStatusFlashInitFailed));
  EXPECT_EQ(current, (FirmwareVersion{9, 9, 9}));
}

TEST(DirectFlashUpdate, UpdatesTheFlashAndOnlyThenReloadsTheFirmware) {
  const test::UpdateCase u = test::sweepCase("type2_ncb0_active");
  LabAdapter lab(u.flash);
  {
    DirectFlashUpdate updater(kSysfsPath);
    ASSERT_TRUE(updater.isReady());
    EXPECT_EQ(lab.liveMappings(), 1);
    EXPECT_EQ(updater.reloadFirmware(false), statusNumber(kStatusAdapterNotUpdated))
        << "before any update";

    std::vector<uint8_t> damaged = u.image;
    damaged[0] ^= 0xFF;  // the image's only active block fails its CRC
    EXPECT_NE(updater.update(damaged.data(), static_cast<uint32_t>(damaged.size()), "", ""), 0u);
    EXPECT_EQ(updater.reloadFirmware(false), statusNumber(kStatusAdapterNotUpdated))
        << "after a failed update";
    EXPECT_TRUE(lab.flash() == u.flash);

    EXPECT_EQ(updater.update(u.image.data(), static_cast<uint32_t>(u.image.size()), text(u.blobD),
                             text(u.blobE)),
              0u);
    const std::vector<uint8_t> areaD = [&] {
      std::vector<uint8_t> d(u.blobD.begin(), u.blobD.end() - 4);
      const std::vector<uint8_t> record = image::areaDRecord(false);
      d.insert(d.end(), record.begin(), record.end());
      return d;
    }();
    const std::vector<uint8_t> areaE = [&] {
      std::vector<uint8_t> e(u.blobE.begin(), u.blobE.end() - 2);
      const std::vector<uint8_t> record = image::areaERecord(false);
      e.insert(e.end(), record.begin(), record.end());
      return e;
    }();
    EXPECT_TRUE(lab.flash() == test::referenceUpdate(u.flash, u.image, areaD, areaE));
    EXPECT_EQ(lab.adapter().controlWord().value() & 1, 1u) << "bit 0 set before the update";

    EXPECT_EQ(updater.reloadFirmware(false), 0u);
    const sim::AdapterStats stats = lab.adapter().stats();
    EXPECT_EQ(stats.violations, 0u);
    EXPECT_FALSE(stats.semaphoreHeld);
    EXPECT_EQ(stats.firmwareResets, 2u);
    EXPECT_EQ(stats.phyRestarts, 1u);

    // A later update that fails takes the permission back.
    EXPECT_EQ(updater.rollbackFirmware(), 0u);
    EXPECT_TRUE(lab.flash() ==
                test::referenceRollback(test::referenceUpdate(u.flash, u.image, areaD, areaE)));
    EXPECT_EQ(updater.update(damaged.data(), static_cast<uint32_t>(damaged.size()), "", ""),
              statusNumber(kStatusImageInvalid));
    EXPECT_EQ(updater.reloadFirmware(false), statusNumber(kStatusAdapterNotUpdated));
  }
  EXPECT_EQ(lab.liveMappings(), 0) << "the window goes with the updater";
}

// The rollback path: the instance never updated the adapter, so its reload is refused.
TEST(DirectFlashUpdate, AReloadAfterARollbackIsRefused) {
  LabAdapter lab(test::sweepCase("type2_ncb0_active").flash);
  DirectFlashUpdate updater(kSysfsPath);
  EXPECT_EQ(updater.rollbackFirmware(), 0u);
  EXPECT_EQ(updater.reloadFirmware(false), statusNumber(kStatusAdapterNotUpdated));
  EXPECT_EQ(lab.adapter().stats().firmwareResets, 0u);
}

TEST(DirectFlashUpdate, AnImageShorterThanItsLengthSaysIsNeverReadPastIt) {
  const test::UpdateCase u = test::sweepCase("type2_ncb0_active");
  LabAdapter lab(u.flash);
  DirectFlashUpdate updater(kSysfsPath);
  // Only the bytes the caller vouches for are passed on.
  EXPECT_EQ(updater.update(u.image.data(), kFlashLayoutSize - 1, "", ""),
            statusNumber(kStatusImageInvalid));
  EXPECT_EQ(updater.update(nullptr, kFlashLayoutSize, "", ""), statusNumber(kStatusImageInvalid));
  EXPECT_TRUE(lab.flash() == u.flash);
}

TEST(DirectFlashUpdate, ReadFlashContentsTellsTheSizeThenReadsTheWholeFlash) {
  const test::UpdateCase u = test::sweepCase("type2_ncb1_active");
  LabAdapter lab(u.flash);
  DirectFlashUpdate updater(kSysfsPath);
  uint32_t required = 0;
  EXPECT_EQ(updater.readFlashContents(nullptr, 0, required), 8u);
  EXPECT_EQ(required, 0x200000u);
  std::vector<uint8_t> buffer(required + 1, 0x11);
  uint32_t unchanged = 5;
  EXPECT_EQ(updater.readFlashContents(buffer.data(), required - 1, unchanged), 8u);
  EXPECT_EQ(unchanged, required);
  unchanged = 5;
  EXPECT_EQ(updater.readFlashContents(nullptr, required, unchanged), 8u) << "no buffer";
  unchanged = 5;
  EXPECT_EQ(updater.readFlashContents(buffer.data(), required + 1, unchanged), 0u);
  EXPECT_EQ(unchanged, 5u) << "required is written only with status 8";
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end() - 1, lab.flash().begin()));
  EXPECT_EQ(buffer.back(), 0x11);
  EXPECT_EQ(lab.adapter().violations(), 0u);
}

TEST(DirectFlashUpdate, ReadFlashContentsOfAPartThatCannotBeIdentifiedFails) {
  LabAdapter lab({}, [](sim::LabFunction& f) { f.config.partStuck = true; });
  DirectFlashUpdate updater(kSysfsPath);
  uint32_t required = 5;
  EXPECT_EQ(updater.readFlashContents(nullptr, 0, required), statusNumber(kStatusFlashInitFailed));
  EXPECT_EQ(required, 5u);
}

TEST(DirectFlashUpdate, VersionsOfTheRunningAndThePreviousFirmware) {
  struct Case {
    const char* what;
    std::vector<uint8_t> flash;
    uint32_t status;
    std::optional<FirmwareVersion> current;
    std::optional<FirmwareVersion> previous;
  };
  image::ImageSpec alone;
  alone.ncbs[0].firmware.version = {2, 1, 7};
  image::ImageSpec blank;
  blank.ncbs[0].erased = true;
  const Case cases[] = {
      {"updated flash", test::sweepCase("type2_ncb1_active").flash, 0, test::kOldVersion,
       FirmwareVersion{1, 4, 0}},
      {"no earlier firmware", image::buildImage(alone), 0, FirmwareVersion{2, 1, 7}, std::nullopt},
      {"blank flash", image::buildImage(blank), statusNumber(kStatusNoValidActiveNcb), std::nullopt,
       std::nullopt},
  };
  for (const Case& c : cases) {
    LabAdapter lab(c.flash);
    DirectFlashUpdate updater(kSysfsPath);
    const FirmwareVersion untouched{9, 9, 9};
    FirmwareVersion current = untouched;
    FirmwareVersion previous = untouched;
    EXPECT_EQ(updater.getFirmwareVersions(current, &previous), c.status) << c.what;
    EXPECT_EQ(current, c.current.value_or(untouched)) << c.what;
    EXPECT_EQ(previous, c.previous.value_or(untouched)) << c.what;
    FirmwareVersion only = untouched;
    EXPECT_EQ(updater.getFirmwareVersions(only, nullptr), c.status) << c.what;
    EXPECT_EQ(only, c.current.value_or(untouched)) << c.what;
  }
}

TEST(DirectFlashUpdate, EligibilityAndTypeFollowThePciIdentifiers) {
  struct Case {
    const char* what;
    uint16_t vendor, device, subsystemVendor, subsystemDevice;
    bool eligible;
    uint32_t type;
  };
  const Case cases[] = {
      {"the maker's board for another vendor", 0x1E9C, 0x20C3, 0x1028, 0x0001, true, 1},
      {"the maker's own board 0x0001", 0x1E9C, 0x20C3, 0x1E9C, 0x0001, false, 1},
      {"the maker's own other board", 0x1E9C, 0x21C3, 0x1E9C, 0x0002, true, 2},
      {"a type-2 device", 0x1E9C, 0xA2C3, 0x1028, 0x1F70, true, 2},
      {"the excluded vendor", 0x106B, 0x20C3, 0x1028, 0x0001, false, 1},
      {"another vendor, board 0x0001 of the maker", 0x8086, 0x20C3, 0x1E9C, 0x0001, true, 1},
  };
  for (const Case& c : cases) {
    LabAdapter lab({}, [&](sim::LabFunction& f) {
      f.vendorId = c.vendor;
      f.deviceId = c.device;
      f.subsystemVendorId = c.subsystemVendor;
      f.subsystemDeviceId = c.subsystemDevice;
    });
    DirectFlashUpdate updater(kSysfsPath);
    EXPECT_EQ(updater.isEligible(), c.eligible) << c.what;
    uint32_t type = 0;
    EXPECT_EQ(updater.getAdapterType(type), 0u) << c.what;
    EXPECT_EQ(type, c.type) << c.what;
  }
}

TEST(DirectFlashUpdate, InspectImageRecordsVersionAndTypeOnlyForAnImageItAccepts) {
  image::ImageSpec typeTwo = test::smallUpdateImageSpec();
  typeTwo.ncbs[0].deviceId = 0x21C3;
  image::ImageSpec inactive = test::smallUpdateImageSpec();
  inactive.ncbs[0].state = NcbState::kDeactivated;
  image::ImageSpec noVersion = test::smallUpdateImageSpec();
  noVersion.ncbs[0].firmware.version = {9, 0, 0};
  std::vector<uint8_t> shortImage = image::buildImage(test::smallUpdateImageSpec());
  shortImage.pop_back();
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    uint32_t status;
    uint32_t type;  // 0: unchanged
  };
  const Case cases[] = {
      {"a type-1 image", image::buildImage(test::smallUpdateImageSpec()), 0, 1},
      {"a type-2 image", image::buildImage(typeTwo), 0, 2},
      {"one byte short", shortImage, 8, 0},
      {"no active block", image::buildImage(inactive), 12, 0},
      {"no readable version", image::buildImage(noVersion), statusNumber(kStatusVersionUnreadable),
       0},
  };
  test::TempDir dir;
  DirectFlashUpdate updater;
  for (const Case& c : cases) {
    test::writeBinaryFile(dir / "image.bin", c.bytes);
    VoImageFile image(dir / "image.bin");
    EXPECT_EQ(updater.inspectImage(image), c.status) << c.what;
    EXPECT_EQ(image.type(), c.type) << c.what;
    EXPECT_EQ(image.version(), c.type != 0 ? test::kNewVersion : FirmwareVersion{}) << c.what;
  }
}

// The fuse check is traced, not enforced.
TEST(DirectFlashUpdate, CheckImageKeyAnswersZeroWhateverTheFusesSay) {
  LabAdapter lab({}, [](sim::LabFunction& f) {
    f.config.firmware.chipRevision = reg::kChipRevisionWithKeyFuses;
    f.config.firmware.fuseStatus = 0x1000;
    f.config.firmware.fuseDigest.fill(0x42);
  });
  test::TempDir dir;
  test::writeBinaryFile(dir / "image.bin", image::buildImage(test::smallUpdateImageSpec()));
  VoImageFile image(dir / "image.bin");
  DirectFlashUpdate updater(kSysfsPath);
  EXPECT_EQ(updater.checkImageKey(image), 0u);
  EXPECT_GT(lab.adapter().stats().regReads, 1u) << "the fuses were read";
  EXPECT_EQ(lab.adapter().violations(), 0u);

  std::vector<uint8_t> shortImage = image::buildImage(test::smallUpdateImageSpec());
  shortImage.pop_back();
  test::writeBinaryFile(dir / "short.bin", shortImage);
  VoImageFile tooShort(dir / "short.bin");
  EXPECT_EQ(updater.checkImageKey(tooShort), 8u);
}

TEST(OpenUpdater, GivesTheAdapterANewUpdaterInPlaceOfAnyEarlierOne) {
  LabAdapter lab({});
  AdapterInfo adapter;
  adapter.sysfsPath = kSysfsPath;
  bool earlierDestroyed = false;
  auto earlier = std::make_unique<test::FakeUpdater>();
  earlier->onDestroy = [&] { earlierDestroyed = true; };
  adapter.updater = std::move(earlier);
  EXPECT_TRUE(openUpdater(adapter));
  EXPECT_TRUE(earlierDestroyed);
  ASSERT_NE(dynamic_cast<DirectFlashUpdate*>(adapter.updater.get()), nullptr);
  EXPECT_EQ(lab.liveMappings(), 1);
  adapter.updater.reset();
  EXPECT_EQ(lab.liveMappings(), 0);
}

}  // namespace
}  // namespace hlv
