// The rig of the per-adapter procedure tests: one adapter, eth0 at 0000:03:00.0, in a fake
// sysfs, with a fake update interface and the run's log directory.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/adapter_entry.h"
#include "bundle/vo_image_file.h"
#include "device/pci_discovery.h"
#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"
#include "trace/log_directory.h"

namespace hlv::test {

inline constexpr const char* kBdf = "0000:03:00.0";

// One adapter, eth0 at 0000:03:00.0, bound to its driver (unless a case unbinds it), with a fake
// update interface over a flash of 4 KiB, and the run's log directory.
class Procedure : public ::testing::Test {
 protected:
  Procedure() {
    FakePciFunction function;
    function.bdf = kBdf;
    sysfs_.addFunction(function);
    platform::FileProblem problem;
    logs_ = trace::makeLogDirectory(root_.path() + "/", "run", problem);
    EXPECT_TRUE(logs_.isOpen()) << problem.reason;
    flash_.resize(0x1000);
    for (std::size_t i = 0; i < flash_.size(); ++i)
      flash_[i] = static_cast<uint8_t>(i * 13);
  }

  std::string logDirectory() const { return logs_.path(); }

  AdapterEntry entry(uint32_t imageType, const std::function<void(FakeUpdater&)>& setup,
                     const std::string& interfaceName = "eth0") {
    auto info = std::make_unique<AdapterInfo>();
    info->bdf = kBdf;
    info->interfaceName = interfaceName;
    info->sysfsPath = FakeSysfs::devicePath(kBdf);
    info->vendorId = 0x1E9C;
    info->deviceId = imageType == 2 ? 0x21C3 : 0x20C3;
    info->subsystemDeviceId = 0x0001;
    info->subsystemVendorId = 0x1E9C;
    auto updater = std::make_unique<FakeUpdater>();
    updater->flash = flash_;
    updater->adapterType = imageType;
    setup(*updater);
    updater_ = updater.get();
    info->updater = std::move(updater);

    AdapterEntry made(3, std::move(info));
    made.imageType = imageType;
    made.currentVersion = {3, 1, 57};
    made.previousVersion = {3, 0, 9};
    made.macData = "\xA1\xB2";
    made.phyData = "\xC3";
    writeFile(root_ / "fw.bin", std::string(0x2000, 'F'));
    image_ = std::make_shared<VoImageFile>(root_ / "fw.bin");
    image_->setVersion({3, 1, 121});
    image_->setType(imageType);
    made.selectedImage = image_;
    return made;
  }

  std::string driverFile(const std::string& name) const {
    return readFile(sysfs_.hostPath("/sys/bus/pci/drivers/halvern/" + name));
  }

  TempDir root_;
  trace::LogDirectory logs_;
  FakeSysfs sysfs_{root_.path()};
  platform::RootedPlatform machine_{root_.path()};
  platform::ScopedPlatform installed_{machine_};
  std::vector<uint8_t> flash_;
  FakeUpdater* updater_ = nullptr;
  std::shared_ptr<VoImageFile> image_;
};

}  // namespace hlv::test
