// Discovering the maker's adapters in sysfs: the functions kept and their order, the texts and
// the resource table read as the kernel writes them.
#include "device/pci_discovery.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/linux_platform.h"
#include "platform/platform.h"
#include "tests/support/fake_sysfs.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv {
namespace {

using test::FakePciFunction;
using test::FakeSysfs;

// A fake sysfs tree installed as the machine's /sys for one test.
class FakeMachine : public ::testing::Test {
 protected:
  test::TempDir dir_;
  FakeSysfs sysfs_{dir_.path()};
  platform::RootedPlatform platform_{dir_.path()};
  platform::ScopedPlatform installed_{platform_};
};

FakePciFunction function(const std::string& bdf, uint16_t vendorId = kTessarinVendorId) {
  FakePciFunction f;
  f.bdf = bdf;
  f.vendorId = vendorId;
  return f;
}

std::vector<std::string> bdfsOf(const AdapterList& adapters) {
  std::vector<std::string> bdfs;
  for (const auto& adapter : adapters)
    bdfs.push_back(adapter->bdf);
  return bdfs;
}

TEST_F(FakeMachine, DiscoveryKeepsTheMakersFunctionsInNameOrderAndSkipsOtherEntries) {
  // Written out of order; other vendors and names that are not PCI addresses in between.
  sysfs_.addFunction(function("0000:0a:00.0"));
  sysfs_.addFunction(function("0000:03:00.1"));
  sysfs_.addFunction(function("0000:02:00.0", 0x8086));
  sysfs_.addFunction(function("0000:03:00.0"));
  sysfs_.addFunction(function("0000:zz:00.0"));
  sysfs_.addFunction(function("devices"));
  FakePciFunction noIds = function("0000:04:00.0");
  sysfs_.writeResources(noIds.bdf, noIds.regions);  // a function without identifier files
  FakePciFunction notANumber = function("0000:05:00.0");
  sysfs_.addFunction(notANumber);
  sysfs_.writeSysFile(FakeSysfs::devicePath(notANumber.bdf) + "/vendor", "vendor\n");

  const AdapterList adapters = discoverAdapters();

  EXPECT_EQ(bdfsOf(adapters),
            (std::vector<std::string>{"0000:03:00.0", "0000:03:00.1", "0000:0a:00.0"}));
  ASSERT_FALSE(adapters.empty());
  const AdapterInfo& first = *adapters.front();
  EXPECT_EQ(first.sysfsPath, "/sys/bus/pci/devices/0000:03:00.0");
  EXPECT_EQ(first.vendorId, 0x1E9C);
  EXPECT_EQ(first.deviceId, 0x20C3);
  EXPECT_EQ(first.subsystemVendorId, 0x1E9C);
  EXPECT_EQ(first.subsystemDeviceId, 0x0001);
  EXPECT_EQ(first.reserved, 0);
  EXPECT_EQ(first.index, 0u);
  EXPECT_EQ(first.updater, nullptr);
}

TEST_F(FakeMachine, DiscoveryFindsNothingWithoutTheMakersDevicesOrWithoutSysfs) {
  EXPECT_TRUE(discoverAdapters().empty());
  sysfs_.addFunction(function("0000:02:00.0", 0x8086));
  EXPECT_TRUE(discoverAdapters().empty());

  platform::RootedPlatform nowhere(dir_ / "missing");
  platform::ScopedPlatform installed(nowhere);
  EXPECT_TRUE(discoverAdapters().empty());
}

TEST_F(FakeMachine, AddressTextIsBuiltFromTheParsedNumbers) {
  // The name is parsed as four hexadecimal fields; the address is then written in the kernel's
  // form, and the directory keeps the name as listed.
  sysfs_.addFunction(function("ABCD:ef:1f.7"));
  const AdapterList adapters = discoverAdapters();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_EQ(adapters[0]->bdf, "abcd:ef:1f.7");
  EXPECT_EQ(adapters[0]->sysfsPath, "/sys/bus/pci/devices/ABCD:ef:1f.7");
}

struct AdapterTextCase {
  const char* name;
  std::function<void(FakePciFunction&)> describe;
  std::function<void(FakeSysfs&, const FakePciFunction&)> alter;  // after the function is written
  std::string interfaceName;
  std::string macAddress;
  std::string driverVersion;
};

void PrintTo(const AdapterTextCase& c, std::ostream* os) {
  *os << c.name;
}

class AdapterTexts : public FakeMachine, public ::testing::WithParamInterface<AdapterTextCase> {};

TEST_P(AdapterTexts, AreReadAsTheKernelWritesThem) {
  const AdapterTextCase& c = GetParam();
  FakePciFunction f;
  if (c.describe) c.describe(f);
  sysfs_.addFunction(f);
  if (c.alter) c.alter(sysfs_, f);

  const AdapterList adapters = discoverAdapters();
  ASSERT_EQ(adapters.size(), 1u);
  EXPECT_EQ(adapters[0]->interfaceName, c.interfaceName);
  EXPECT_EQ(adapters[0]->macAddress, c.macAddress);
  EXPECT_EQ(adapters[0]->driverVersion, c.driverVersion);
}

void writeVersion(FakeSysfs& sysfs, const std::string& text) {
  sysfs.writeSysFile("/sys/module/halvern/version", text);
}

void writeAddress(FakeSysfs& sysfs, const FakePciFunction& f, const std::string& text) {
  sysfs.writeSysFile(FakeSysfs::devicePath(f.bdf) + "/net/eth0/address", text);
}

const std::string kLongVersion(300, '7');

INSTANTIATE_TEST_SUITE_P(
    Discovery, AdapterTexts,
    ::testing::Values(
        AdapterTextCase{"BoundAdapter", nullptr, nullptr, "eth0", "02:00:00:aa:bb:cc", "2.4.1\n"},
        AdapterTextCase{"NoNetworkInterface", [](FakePciFunction& f) { f.interfaceName.reset(); },
                        nullptr, "unknown", "", "2.4.1\n"},
        AdapterTextCase{"EmptyNetDirectory", [](FakePciFunction& f) { f.interfaceName.reset(); },
                        [](FakeSysfs& s, const FakePciFunction& f) {
                          std::filesystem::create_directories(
                              s.hostPath(FakeSysfs::devicePath(f.bdf) + "/net"));
                        },
                        "unknown", "", "2.4.1\n"},
        AdapterTextCase{"FirstOfTwoInterfacesByName",
                        [](FakePciFunction& f) { f.interfaceName = "eth1"; },
                        [](FakeSysfs& s, const FakePciFunction& f) {
                          s.addNetInterface(f.bdf, "eth0", "02:00:00:00:00:01");
                        },
                        "eth0", "02:00:00:00:00:01", "2.4.1\n"},
        AdapterTextCase{"DriverNotBound", [](FakePciFunction& f) { f.driver.reset(); }, nullptr,
                        "eth0", "02:00:00:aa:bb:cc", "unknown"},
        AdapterTextCase{"VersionWithoutLineFeed", nullptr,
                        [](FakeSysfs& s, const FakePciFunction&) { writeVersion(s, "2.4.1"); },
                        "eth0", "02:00:00:aa:bb:cc", "2.4.1"},
        AdapterTextCase{
            "OnlyTheFirstVersionLine", nullptr,
            [](FakeSysfs& s, const FakePciFunction&) { writeVersion(s, "2.4.1\nsecond\n"); },
            "eth0", "02:00:00:aa:bb:cc", "2.4.1\n"},
        AdapterTextCase{"EmptyVersionFile", nullptr,
                        [](FakeSysfs& s, const FakePciFunction&) { writeVersion(s, ""); }, "eth0",
                        "02:00:00:aa:bb:cc", "unknown"},
        AdapterTextCase{
            "VersionLineCutAt255Characters", nullptr,
            [](FakeSysfs& s, const FakePciFunction&) { writeVersion(s, kLongVersion + "\n"); },
            "eth0", "02:00:00:aa:bb:cc", kLongVersion.substr(0, 255)},
        AdapterTextCase{"LongAddressFileCutAt17Bytes", nullptr,
                        [](FakeSysfs& s, const FakePciFunction& f) {
                          writeAddress(s, f, "02:00:00:aa:bb:cc:dd:ee:ff\n");
                        },
                        "eth0", "02:00:00:aa:bb:cc", "2.4.1\n"},
        AdapterTextCase{
            "ShortAddressKeptWithItsLineFeed", nullptr,
            [](FakeSysfs& s, const FakePciFunction& f) { writeAddress(s, f, "02:00\n"); }, "eth0",
            "02:00\n", "2.4.1\n"},
        AdapterTextCase{"AddressEndsAtNul", nullptr,
                        [](FakeSysfs& s, const FakePciFunction& f) {
                          writeAddress(s, f, std::string("02:00\0:00:aa:bb", 14));
                        },
                        "eth0", "02:00", "2.4.1\n"},
        AdapterTextCase{"AddressUnreadable", nullptr,
                        [](FakeSysfs& s, const FakePciFunction& f) {
                          const std::string path =
                              s.hostPath(FakeSysfs::devicePath(f.bdf) + "/net/eth0/address");
                          std::filesystem::remove(path);
                          std::filesystem::create_directory(path);  // opens, but cannot be read
                        },
                        "eth0", "", "2.4.1\n"}),
    [](const ::testing::TestParamInfo<AdapterTextCase>& info) { return info.param.name; });

struct Hex16Case {
  const char* name;
  std::optional<std::string> contents;  // none: no file at all
  bool read;
  uint16_t value;
};

void PrintTo(const Hex16Case& c, std::ostream* os) {
  *os << c.name;
}

class SysfsHex16 : public ::testing::TestWithParam<Hex16Case> {};

TEST_P(SysfsHex16, ConvertsTheKernelsTextOrReportsTheFileUnreadable) {
  const Hex16Case& c = GetParam();
  test::TempDir dir;
  const std::string path = dir / "attribute";
  if (c.contents) test::writeFile(path, *c.contents);
  uint16_t value = 0xABCD;
  EXPECT_EQ(readSysfsHex16(path, value), c.read);
  EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Attributes, SysfsHex16,
    ::testing::Values(Hex16Case{"KernelForm", "0x1e9c\n", true, 0x1E9C},
                      Hex16Case{"WithoutPrefix", "1E9C", true, 0x1E9C},
                      Hex16Case{"LeadingBlanks", "  0x20c3\n", true, 0x20C3},
                      Hex16Case{"LowSixteenBitsKept", "0x12345\n", true, 0x2345},
                      Hex16Case{"Empty", "", true, 0}, Hex16Case{"NotANumber", "vendor\n", true, 0},
                      // Only the first 511 bytes are read: the digit after them is not seen.
                      Hex16Case{"LongerThanTheBuffer", std::string(511, '0') + "7", true, 0},
                      Hex16Case{"Missing", std::nullopt, false, 0}),
    [](const ::testing::TestParamInfo<Hex16Case>& info) { return info.param.name; });

TEST(SysfsHex16Directory, ADirectoryOpensButCannotBeRead) {
  test::TempDir dir;
  uint16_t value = 7;
  EXPECT_FALSE(readSysfsHex16(dir.path(), value));
  EXPECT_EQ(value, 0);
}

struct ResourceCase {
  const char* name;
  std::string text;
  PciResource region0;
  PciResource region5;
};

void PrintTo(const ResourceCase& c, std::ostream* os) {
  *os << c.name;
}

class ResourceTable : public FakeMachine, public ::testing::WithParamInterface<ResourceCase> {};

TEST_P(ResourceTable, GivesEachRegionItsStartSizeAndFlags) {
  const ResourceCase& c = GetParam();
  sysfs_.writeSysFile(FakeSysfs::devicePath("0000:03:00.0") + "/resource", c.text);
  PciDevice device;
  device.path = FakeSysfs::devicePath("0000:03:00.0");
  device.resources.fill({1, 1, 1});
  ASSERT_TRUE(readPciResources(device));
  EXPECT_EQ(device.resources[0].start, c.region0.start);
  EXPECT_EQ(device.resources[0].size, c.region0.size);
  EXPECT_EQ(device.resources[0].flags, c.region0.flags);
  EXPECT_EQ(device.resources[5].start, c.region5.start);
  EXPECT_EQ(device.resources[5].size, c.region5.size);
  EXPECT_EQ(device.resources[5].flags, c.region5.flags);
}

std::string resourceLine(uint64_t start, uint64_t end, uint64_t flags) {
  char line[80];
  std::snprintf(line, sizeof line, "0x%016llx 0x%016llx 0x%016llx\n",
                static_cast<unsigned long long>(start), static_cast<unsigned long long>(end),
                static_cast<unsigned long long>(flags));
  return line;
}

std::string zeroLines(int count) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += resourceLine(0, 0, 0);
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Resources, ResourceTable,
    ::testing::Values(
        // The kernel's 13 lines are 741 bytes: more than the 511 that are read.
        ResourceCase{"FourMebibyteRegionInTheKernelsThirteenLines",
                     resourceLine(0xFB000000, 0xFB3FFFFF, 0x140204) + zeroLines(4) +
                         resourceLine(0xE000, 0xE01F, 0x40101) + zeroLines(7),
                     {0xFB000000, 0x400000, 0x140204},
                     {0xE000, 0x20, 0x40101}},
        ResourceCase{"UnusedRegionHasSizeZero", zeroLines(13), {0, 0, 0}, {0, 0, 0}},
        ResourceCase{"EndEqualToStartHasSizeZero",
                     resourceLine(0xFB000000, 0xFB000000, 0x200) + zeroLines(12),
                     {0xFB000000, 0, 0x200},
                     {0, 0, 0}},
        ResourceCase{"TableEndingEarlyReadsAsZeros",
                     resourceLine(0xFB000000, 0xFB3FFFFF, 0x140204),
                     {0xFB000000, 0x400000, 0x140204},
                     {0, 0, 0}},
        ResourceCase{"EmptyFile", "", {0, 0, 0}, {0, 0, 0}},
        ResourceCase{"NotNumbers", "region zero\n", {0, 0, 0}, {0, 0, 0}},
        ResourceCase{"EndBelowStartHasSizeZero",
                     resourceLine(0xFB3FFFFF, 0xFB000000, 0x200) + zeroLines(12),
                     {0xFB3FFFFF, 0, 0x200},
                     {0, 0, 0}},
        // Only the first 511 bytes are read, so the text is always terminated: the number
        // after them is not seen.
        ResourceCase{
            "NumberPastTheFirst511Bytes", std::string(511, ' ') + "5", {0, 0, 0}, {0, 0, 0}},
        // One digit run fills the whole buffer: it converts (saturating) and the text ends at
        // the buffer's last byte.
        ResourceCase{"DigitsFillingTheBuffer", std::string(600, 'f'), {~0ull, 0, 0}, {0, 0, 0}}),
    [](const ::testing::TestParamInfo<ResourceCase>& info) { return info.param.name; });

TEST_F(FakeMachine, ResourceTableThatCannotBeReadIsReportedAndLeftAlone) {
  PciDevice device;
  device.path = FakeSysfs::devicePath("0000:03:00.0");
  EXPECT_FALSE(readPciResources(device));  // no file
  std::filesystem::create_directories(sysfs_.hostPath(device.path + "/resource"));
  EXPECT_FALSE(readPciResources(device));  // opens, cannot be read
  EXPECT_EQ(device.resources[0].start, 0u);
}

TEST_F(FakeMachine, ScanAppendsAndReportsWhetherTheListHoldsAnything) {
  std::vector<PciDevice> devices;
  EXPECT_FALSE(scanPciDevices("/sys/bus/pci/devices", devices));  // empty directory
  EXPECT_FALSE(scanPciDevices("/sys/bus/pci/nowhere", devices));  // cannot be listed

  sysfs_.addFunction(function("0000:03:00.0", 0x8086));
  EXPECT_TRUE(scanPciDevices("/sys/bus/pci/devices", devices));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].path, "/sys/bus/pci/devices/0000:03:00.0");
  EXPECT_EQ(devices[0].vendorId, 0x8086);
  EXPECT_EQ(devices[0].bus, 3);
  EXPECT_EQ(devices[0].resources[0].size, 0x400000u);
  EXPECT_EQ(devices[0].fd(), -1);
  EXPECT_EQ(devices[0].mapping(), nullptr);

  // A directory that cannot be listed is a failure and leaves the list alone; an empty one
  // tells whether the list already holds something.
  EXPECT_FALSE(scanPciDevices("/sys/bus/pci/nowhere", devices));
  std::filesystem::create_directories(sysfs_.hostPath("/sys/bus/pci/empty"));
  EXPECT_TRUE(scanPciDevices("/sys/bus/pci/empty", devices));
  EXPECT_EQ(devices.size(), 1u);
}

TEST_F(FakeMachine, InitRebuildsTheDeviceFromItsPath) {
  FakePciFunction f = function("0000:03:00.0");
  f.deviceId = 0x21C3;
  sysfs_.addFunction(f);

  PciDevice device;
  device.bus = 9;
  device.vendorId = 1;
  device.resources[3].start = 5;
  ASSERT_TRUE(initPciDevice(device, FakeSysfs::devicePath(f.bdf)));
  EXPECT_EQ(device.bus, 0);  // the address is not taken from the path
  EXPECT_EQ(device.vendorId, 0x1E9C);
  EXPECT_EQ(device.deviceId, 0x21C3);
  EXPECT_EQ(device.resources[0].size, 0x400000u);
  EXPECT_EQ(device.resources[3].start, 0u);

  EXPECT_FALSE(initPciDevice(device, FakeSysfs::devicePath("0000:09:00.0")));
  EXPECT_EQ(device.vendorId, 0);
  EXPECT_EQ(device.resources[0].size, 0u);
  EXPECT_EQ(device.path, "/sys/bus/pci/devices/0000:09:00.0");
}

}  // namespace
}  // namespace hlv
