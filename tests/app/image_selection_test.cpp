// The image an adapter is to receive: its board entry found in the database, the image fetched
// from the bundle with the board's configuration bytes, a settled entry left alone.
#include "app/image_selection.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "device/pci_discovery.h"
#include "tests/support/fake_updater.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using Status = AdapterStatus;
using test::FakeUpdater;

TEST(SelectImage, ASettledEntryIsLeftAloneAndAFailedFetchDropsTheEarlierImage) {
  test::TempDir bundle;
  test::writeFile(bundle / "fw.bin", "image");
  UpdateDatabase database;
  BdpEntry board;
  board.id = "b1";
  board.hwids = {{0x1E9C, 0x20C3, 0x0001, 0x1E9C}};
  board.mac = {0xA1};
  board.phy = {0xB2};
  board.image = "fw.bin";
  database.bdps.push_back(board);
  ImageStore store(bundle.path(), std::make_unique<FakeUpdater>());
  SystemInfoCache cache;

  auto info = std::make_unique<AdapterInfo>();
  info->vendorId = 0x1E9C;
  info->deviceId = 0x20C3;
  info->subsystemDeviceId = 0x0001;
  info->subsystemVendorId = 0x1E9C;
  AdapterEntry entry(0, std::move(info));
  ASSERT_TRUE(selectImage(entry, database, store, cache));
  ASSERT_NE(entry.selectedImage, nullptr);
  EXPECT_EQ(entry.macData, "\xA1");
  EXPECT_EQ(entry.phyData, "\xB2");

  // Settled: nothing is looked up or changed, even with a database that no longer fits.
  entry.status = Status::NotRequired;
  const std::shared_ptr<VoImageFile> chosen = entry.selectedImage;
  database.bdps[0].image = "gone.bin";
  EXPECT_TRUE(selectImage(entry, database, store, cache));
  EXPECT_EQ(entry.selectedImage, chosen);

  // A board entry whose image cannot be had: the earlier image goes, the bytes stay.
  entry.status = Status::Available;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(selectImage(entry, database, store, cache));
  std::fflush(stdout);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "[!] Couldn't read file 'gone.bin' \n");
  EXPECT_EQ(entry.selectedImage, nullptr);
  EXPECT_EQ(entry.macData, "\xA1");

  // No board entry for the adapter.
  entry.adapter->deviceId = 0x21C3;
  EXPECT_FALSE(selectImage(entry, database, store, cache));
}

}  // namespace
}  // namespace hlv
