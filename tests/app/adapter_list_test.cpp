// Examining the adapters: the versions and type read through each adapter's update interface, the
// image chosen from the bundle, and the verdict. The choice of the image itself:
// image_selection_test.cpp.
#include "app/adapter_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "app/update_session.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using Status = AdapterStatus;
using test::FakeUpdater;

// An image file with the version and type the image check would have recorded.
std::shared_ptr<VoImageFile> checkedImage(const test::TempDir& dir, FirmwareVersion version,
                                          uint32_t type) {
  test::writeFile(dir / "image.bin", "image");
  auto image = std::make_shared<VoImageFile>(dir / "image.bin");
  image->setVersion(version);
  image->setType(type);
  return image;
}

struct EvaluateCase {
  const char* what;
  FirmwareVersion running;
  FirmwareVersion offered;
  Status expected;
  uint32_t imageType = 1;  // of the image; 0: no image selected
  bool hasUpdater = true;
  std::function<void(FakeUpdater&)> adapter = [](FakeUpdater&) {};
};

void PrintTo(const EvaluateCase& c, std::ostream* os) {
  *os << c.what;
}

const EvaluateCase kEvaluateCases[] = {
    {"an image one build newer is available", {3, 1, 57}, {3, 1, 58}, Status::Available},
    {"an image of the running version is not required",
     {3, 1, 57},
     {3, 1, 57},
     Status::NotRequired},
    {"an older image is not required", {3, 1, 57}, {3, 1, 9}, Status::NotRequired},
    {"a higher minor outweighs a lower build", {3, 1, 57}, {3, 2, 0}, Status::Available},
    {"a lower major outweighs a higher minor", {3, 0, 0}, {2, 9, 99}, Status::NotRequired},
    {"no image", {3, 1, 57}, {9, 0, 0}, Status::NotAvailable, 0},
    {"an image of the other type", {3, 1, 57}, {9, 0, 0}, Status::NotAvailable, 2},
    {"no update interface", {3, 1, 57}, {9, 0, 0}, Status::NotAvailable, 1, false},
    {"an update interface that is not ready",
     {3, 1, 57},
     {9, 0, 0},
     Status::NotAvailable,
     1,
     true,
     [](FakeUpdater& u) { u.ready = false; }},
    {"an adapter that is not eligible",
     {3, 1, 57},
     {9, 0, 0},
     Status::NotAvailable,
     1,
     true,
     [](FakeUpdater& u) { u.eligible = false; }},
    {"an image whose key check fails",
     {3, 1, 57},
     {9, 0, 0},
     Status::NotAvailable,
     1,
     true,
     [](FakeUpdater& u) { u.keyResult = 8; }},
};

class Evaluate : public ::testing::TestWithParam<EvaluateCase> {};

TEST_P(Evaluate, TheImageMustSuitTheAdapterAndBeNewer) {
  const EvaluateCase& c = GetParam();
  test::TempDir dir;
  AdapterEntry entry(0, std::make_unique<AdapterInfo>());
  entry.status = Status::NotAvailable;  // an earlier verdict does not count
  entry.imageType = 1;
  entry.currentVersion = c.running;
  if (c.imageType != 0) entry.selectedImage = checkedImage(dir, c.offered, c.imageType);
  if (c.hasUpdater) {
    auto updater = std::make_unique<FakeUpdater>();
    c.adapter(*updater);
    entry.adapter->updater = std::move(updater);
  }
  evaluateAdapter(entry);
  EXPECT_EQ(entry.status, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, Evaluate, ::testing::ValuesIn(kEvaluateCases));

// A machine: adapters in a fake sysfs, each with a fake update interface; the bundle in the tool
// directory; images checked by a fake that knows each file's version and type.
class AdapterListTest : public ::testing::Test {
 protected:
  struct Adapter {
    std::string bdf;
    std::string name;
    uint16_t deviceId;
    uint16_t subsystemDeviceId;
    std::function<void(FakeUpdater&)> setup;
  };

  class ImageChecker : public FakeUpdater {
   public:
    uint32_t inspectImage(VoImageFile& image) override {
      ++*checks;
      const auto known = images.find(image.fileName());
      if (known == images.end()) return 12;
      image.setVersion(known->second.first);
      image.setType(known->second.second);
      return 0;
    }
    std::map<std::string, std::pair<FirmwareVersion, uint32_t>> images;
    int* checks = nullptr;
  };

  void addAdapter(const Adapter& adapter) {
    test::FakePciFunction function;
    function.bdf = adapter.bdf;
    function.interfaceName = adapter.name;
    function.deviceId = adapter.deviceId;
    function.subsystemDeviceId = adapter.subsystemDeviceId;
    sysfs_.addFunction(function);
    setups_[adapter.bdf] = adapter.setup;
  }

  // Runs the session's loading with the fakes; gives its result and what it printed.
  uint32_t load(std::string& printed) {
    SessionSteps steps = defaultSessionSteps();
    steps.openUpdater = [this](AdapterInfo& adapter) {
      auto updater = std::make_unique<FakeUpdater>();
      updater->adapterType = 1;
      setups_.at(adapter.bdf)(*updater);
      const bool ready = updater->ready;
      adapter.updater = std::move(updater);
      return ready;
    };
    steps.makeImageChecker = [this]() -> std::unique_ptr<VoFlUpdateIface> {
      auto checker = std::make_unique<ImageChecker>();
      checker->images = images_;
      checker->checks = &imageChecks_;
      checkerDestroyed_ = false;
      checker->onDestroy = [this] { checkerDestroyed_ = true; };
      return checker;
    };
    session_ = std::make_unique<UpdateSession>(root_ / "tool/", SessionOptions{}, steps);
    ::testing::internal::CaptureStdout();
    const uint32_t result = session_->loadAdapters();
    std::fflush(stdout);
    printed = ::testing::internal::GetCapturedStdout();
    return result;
  }

  test::TempDir root_;
  test::FakeSysfs sysfs_{root_.path()};
  platform::RootedPlatform machine_{root_.path()};
  platform::ScopedPlatform installed_{machine_};
  std::map<std::string, std::function<void(FakeUpdater&)>> setups_;
  std::map<std::string, std::pair<FirmwareVersion, uint32_t>> images_;
  std::unique_ptr<UpdateSession> session_;
  int imageChecks_ = 0;
  bool checkerDestroyed_ = false;
};

const std::string kDatabase = R"(<?xml version="1.0"?>
<bdpDatabase>
  <bdp id="t1">
    <hwids><id vid="1E9C" did="20C3" sdid="0001" svid="1E9C"/></hwids>
    <mac>A1B2</mac><phy>C3</phy>
    <image>fw_t1.bin</image>
  </bdp>
  <bdp id="t2">
    <hwids><id vid="1E9C" did="21C3" sdid="0001" svid="1E9C"/></hwids>
    <image>fw_t2.bin</image>
  </bdp>
  <bdp id="gone">
    <hwids><id vid="1E9C" did="22C3" sdid="0001" svid="1E9C"/></hwids>
    <image>missing.bin</image>
  </bdp>
  <bdp id="board">
    <mac>0102</mac>
    <image>fw_t1.bin</image>
  </bdp>
  <alias id="on BX-100">
    <hwids><id vid="1E9C" did="20C3" sdid="0002" svid="1E9C"/></hwids>
    <systemid>BX-100
</systemid>
    <bdpid>board</bdpid>
  </alias>
</bdpDatabase>
)";

TEST_F(AdapterListTest, EachAdapterIsExaminedOnItsOwnAndSharedImagesAreLoadedOnce) {
  test::writeFile(root_ / "tool/updatedata.xml", kDatabase);
  test::writeFile(root_ / "tool/fw_t1.bin", "type 1 image");
  test::writeFile(root_ / "tool/fw_t2.bin", "type 2 image");
  images_ = {{"fw_t1.bin", {{3, 1, 121}, 1}}, {"fw_t2.bin", {{4, 0, 0}, 2}}};
  sysfs_.setBoardName("BX-100\n");
  const auto running = [](FirmwareVersion version, uint32_t type = 1) {
    return [=](FakeUpdater& u) {
      u.currentVersion = version;
      u.previousVersion = {3, 0, 1};
      u.adapterType = type;
    };
  };
  addAdapter({"0000:01:00.0", "eth0", 0x20C3, 0x0001, running({3, 1, 57})});
  addAdapter({"0000:02:00.0", "eth1", 0x20C3, 0x0001, running({3, 1, 121})});
  addAdapter({"0000:03:00.0", "eth2", 0x21C3, 0x0001, running({3, 9, 0}, 2)});
  addAdapter({"0000:04:00.0", "eth3", 0x22C3, 0x0001, running({3, 1, 57})});
  addAdapter({"0000:05:00.0", "eth4", 0x20C3, 0x0002, running({3, 1, 0})});
  addAdapter({"0000:06:00.0", "eth5", 0x23C3, 0x0001, running({3, 1, 57})});
  addAdapter(
      {"0000:07:00.0", "eth6", 0x20C3, 0x0001, [](FakeUpdater& u) { u.versionsResult = 21; }});
  addAdapter(
      {"0000:08:00.0", "eth7", 0x20C3, 0x0001, [](FakeUpdater& u) { u.adapterTypeResult = 5; }});
  addAdapter({"0000:09:00.0", "eth8", 0x20C3, 0x0001, [](FakeUpdater& u) { u.ready = false; }});

  std::string printed;
  ASSERT_EQ(load(printed), 0u);
  EXPECT_EQ(printed,
            "[!] Couldn't read file 'missing.bin' \n"
            "Couldn't determine firmware version for device: 'eth6' \n"
            "Couldn't collect information about device: 'eth7' \n");

  const std::vector<AdapterEntry>& entries = session_->adapters();
  ASSERT_EQ(entries.size(), 9u);
  const std::vector<Status> expected = {
      Status::Available,     // newer image
      Status::NotRequired,   // the same version
      Status::Available,     // type 2 image for a type 2 adapter
      Status::NotAvailable,  // its image file is missing
      Status::Available,     // chosen by the alias for this board
      Status::NotAvailable,  // no board entry
      Status::NotAvailable,  // versions not readable
      Status::NotAvailable,  // type not readable
      Status::NotAvailable,  // update interface not ready
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].index, i);
    EXPECT_EQ(entries[i].adapter->index, i);
    EXPECT_EQ(entries[i].status, expected[i]) << entries[i].name();
  }

  EXPECT_EQ(entries[0].currentVersion, (FirmwareVersion{3, 1, 57}));
  EXPECT_EQ(entries[0].previousVersion, (FirmwareVersion{3, 0, 1}));
  EXPECT_EQ(entries[2].imageType, 2u);
  EXPECT_EQ(entries[0].macData, "\xA1\xB2");
  EXPECT_EQ(entries[0].phyData, "\xC3");
  EXPECT_EQ(entries[4].macData, std::string("\x01\x02"));
  EXPECT_EQ(entries[4].phyData, "");

  // One image object for the three adapters that take fw_t1.bin, and one check per file.
  ASSERT_NE(entries[0].selectedImage, nullptr);
  EXPECT_EQ(entries[1].selectedImage, entries[0].selectedImage);
  EXPECT_EQ(entries[4].selectedImage, entries[0].selectedImage);
  EXPECT_EQ(entries[2].selectedImage->version(), (FirmwareVersion{4, 0, 0}));
  EXPECT_EQ(entries[3].selectedImage, nullptr);
  EXPECT_EQ(imageChecks_, 2);
  EXPECT_TRUE(checkerDestroyed_) << "the image store outlived the loading";
}

TEST_F(AdapterListTest, AMissingDatabaseOrNoAdapterEndsTheLoading) {
  std::string printed;
  EXPECT_EQ(load(printed), 9u);
  EXPECT_EQ(printed, "[!] Couldn't load data from XML file. Check update files. \n");

  test::writeFile(root_ / "tool/updatedata.xml", kDatabase);
  EXPECT_EQ(load(printed), 42u);
  EXPECT_EQ(printed, "No Tessarin network adapter found \n");
}

}  // namespace
}  // namespace hlv
