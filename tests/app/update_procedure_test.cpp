// The per-adapter update procedure: its console block, result, backup and driver restart, for
// each outcome of the backup, the update, the firmware reload and the restart.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "app/update_procedure.h"
#include "tests/app/procedure_fixture.h"
#include "tests/support/operator_texts.h"

namespace hlv {
namespace {

using test::FakeUpdater;
using test::kBdf;
using test::Procedure;

// eth0's block (the type-1 device of the legacy board, updated to 3.1.121), as changed.
std::string eth0Block(const std::function<void(test::UpdateBlock&)>& change) {
  test::UpdateBlock block{.name = "eth0",
                          .deviceId = 0x20C3,
                          .subsystemDeviceId = 0x0001,
                          .subsystemVendorId = 0x1E9C,
                          .newVersion = {3, 1, 121}};
  change(block);
  return test::updateBlock(block);
}

using Reload = test::UpdateBlock::Reload;

struct UpdateCase {
  const char* what;
  uint32_t imageType = 1;
  std::function<void(FakeUpdater&)> adapter = [](FakeUpdater&) {};
  std::function<void(AdapterEntry&, test::FakeSysfs&)> change = [](AdapterEntry&,
                                                                   test::FakeSysfs&) {};
  uint32_t result = 0;
  std::string output;
  bool flashWritten = true;
  bool driverRestarted = true;  // the address was written to unbind and bind
  bool backupWritten = true;
};

void PrintTo(const UpdateCase& c, std::ostream* os) {
  *os << c.what;
}

const UpdateCase kUpdateCases[] = {
    {.what = "a type 1 adapter is updated, reloaded and restarted",
     .output = eth0Block([](test::UpdateBlock& b) { b.reload = Reload::kSucceeded; })},
    {.what = "a type 1 adapter whose reload fails asks for a power cycle",
     .adapter = [](FakeUpdater& u) { u.reloadResult = 31; },
     .output = eth0Block([](test::UpdateBlock& b) { b.reload = Reload::kFailed; })},
    {.what = "a type 2 adapter is not reloaded and asks for a power cycle",
     .imageType = 2,
     .output = eth0Block([](test::UpdateBlock& b) { b.deviceId = 0x21C3; })},
    {.what = "a failed update reports its code and still restarts the driver",
     .adapter = [](FakeUpdater& u) { u.updateResult = 7; },
     .result = 7,
     .output = eth0Block([](test::UpdateBlock& b) { b.updateResult = 7; })},
    {.what = "no image: nothing is written, the driver is restarted",
     .change = [](AdapterEntry& e, test::FakeSysfs&) { e.selectedImage.reset(); },
     .result = 3,
     .output = eth0Block([](test::UpdateBlock& b) { b.updateResult = 3; }),
     .flashWritten = false},
    {.what = "a driver restart that fails asks for a power cycle but keeps the result",
     .change =
         [](AdapterEntry&, test::FakeSysfs& s) {
           std::filesystem::remove(s.hostPath("/sys/bus/pci/drivers/halvern/0000:03:00.0"));
         },
     .output = eth0Block([](test::UpdateBlock& b) {
       b.reload = Reload::kSucceeded;
       b.driverRestarted = false;
     }),
     .driverRestarted = false},
    {.what = "a failed backup stops before the flash is touched",
     .adapter = [](FakeUpdater& u) { u.flash.clear(); },
     .result = 4,
     .output = eth0Block([](test::UpdateBlock& b) { b.backupResult = 4; }),
     .flashWritten = false,
     .driverRestarted = false,
     .backupWritten = false},
    {.what = "a backup file that cannot be opened stops the update with 6",
     .change = [](AdapterEntry& e,
                  test::FakeSysfs&) { e.adapter->interfaceName = "no/such/directory"; },
     .result = 6,
     .output = eth0Block([](test::UpdateBlock& b) {
       b.name = "no/such/directory";
       b.backupResult = 6;
     }),
     .flashWritten = false,
     .driverRestarted = false,
     .backupWritten = false},
};

class UpdateProcedure : public Procedure, public ::testing::WithParamInterface<UpdateCase> {};

TEST_P(UpdateProcedure, PrintsTheBlockAndReturnsTheUpdatesResult) {
  const UpdateCase& c = GetParam();
  AdapterEntry adapter = entry(c.imageType, c.adapter);
  c.change(adapter, sysfs_);

  ::testing::internal::CaptureStdout();
  const uint32_t result = updateAdapter(adapter, logs_);
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
  EXPECT_EQ(result, c.result);

  EXPECT_EQ(updater_->calls.update, c.flashWritten ? 1 : 0);
  if (updater_->calls.update == 1) {
    EXPECT_EQ(updater_->lastImage, image_->data());
    EXPECT_EQ(updater_->lastImageLength, image_->size());
    EXPECT_EQ(updater_->lastMacData, "\xA1\xB2");
    EXPECT_EQ(updater_->lastPhyData, "\xC3");
  }
  EXPECT_FALSE(updater_->lastReloadFlag);
  EXPECT_EQ(driverFile("unbind"), c.driverRestarted ? kBdf : "");
  EXPECT_EQ(driverFile("bind"), c.driverRestarted ? kBdf : "");
  const std::string backup = logDirectory() + "image_eth0.bin";
  EXPECT_EQ(test::fileExists(backup), c.backupWritten);
  if (c.backupWritten) {
    EXPECT_EQ(test::readBinaryFile(backup), flash_);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateProcedure, ::testing::ValuesIn(kUpdateCases));

TEST_F(Procedure, AnAdapterWithoutANetworkInterfaceIsUpdatedWithoutADriverRestart) {
  AdapterEntry adapter = entry(
      1, [](FakeUpdater&) {}, "unknown");
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(updateAdapter(adapter, logs_), 0u);
  std::fflush(stdout);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(output.find("|-- Restarting device driver... [OK] \n===\n \n"), std::string::npos)
      << output;
  EXPECT_EQ(driverFile("unbind"), "");
  EXPECT_EQ(test::readBinaryFile(logDirectory() + "image_unknown.bin"), flash_);
}

}  // namespace
}  // namespace hlv
