// The lab on disk: the written-through flash file, the stats, the lab platform, and a lab
// written by hlvsim as the device layer sees it. adapter.conf itself: adapter_conf_test.cpp.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>
#include <csignal>
#include <ostream>

#include <string>
#include <vector>

#include "device/driver_control.h"
#include "device/pci_device.h"
#include "device/pci_discovery.h"
#include "device/register_control.h"
#include "flashctl/voapiflashcontrol.h"
#include "platform/platform.h"
#include "sim/adapter_conf.h"
#include "sim/lab.h"
#include "sim/lab_platform.h"
#include "sim/lab_writer.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace hlv::sim {
namespace {

// The lab at path; null, failing the test with the reason, when it cannot be opened.
std::unique_ptr<Lab> openLab(const std::string& path) {
  Result<std::unique_ptr<Lab>> lab = Lab::open(path);
  if (!lab) {
    ADD_FAILURE() << lab.error();
    return nullptr;
  }
  return std::move(*lab);
}

void makeAdapterDirectory(const test::TempDir& lab, const std::string& bdf,
                          const std::string& conf) {
  test::writeFile(lab / ("adapters/" + bdf + "/adapter.conf"), conf);
}

TEST(LabOpen, CreatesAMissingFlashFileErasedAtThePartsCapacity) {
  test::TempDir lab;
  makeAdapterDirectory(lab, "0000:03:00.0", "flash = C22016\n");
  test::writeFile(lab / "adapters/0000:04:00.0/.keep", "");  // no adapter.conf: defaults
  std::unique_ptr<Lab> opened = openLab(lab.path());
  ASSERT_NE(opened, nullptr);
  ASSERT_EQ(opened->adapters().size(), 2u);
  const std::vector<uint8_t> first = test::readBinaryFile(lab / "adapters/0000:03:00.0/flash.bin");
  EXPECT_EQ(first, std::vector<uint8_t>(4 * 1024 * 1024, 0xFF));
  EXPECT_EQ(test::readBinaryFile(lab / "adapters/0000:04:00.0/flash.bin").size(), 2u * 1024 * 1024);
  EXPECT_NE(opened->adapter("0000:04:00.0"), nullptr);
  EXPECT_EQ(opened->adapter("0000:05:00.0"), nullptr);
}

TEST(LabOpen, APartOutsideTheTableTakesTheSizeOfItsFlashFile) {
  test::TempDir lab;
  makeAdapterDirectory(lab, "0000:03:00.0", "flash = EF4017\nsfdp = yes\n");
  test::writeBinaryFile(lab / "adapters/0000:03:00.0/flash.bin",
                        std::vector<uint8_t>(1024 * 1024, 0x00));
  std::unique_ptr<Lab> opened = openLab(lab.path());
  ASSERT_NE(opened, nullptr);
  VoApiFlashControl flash(opened->adapter("0000:03:00.0")->adapter.get());
  ASSERT_TRUE(flash.init());
  EXPECT_EQ(flash.flashType(), 90u);
  EXPECT_EQ(flash.flashSize, 1024u * 1024);
}

TEST(LabOpen, RefusesAFlashFileOfAnotherSize) {
  test::TempDir lab;
  makeAdapterDirectory(lab, "0000:03:00.0", "flash = EF6015\n");
  test::writeBinaryFile(lab / "adapters/0000:03:00.0/flash.bin", std::vector<uint8_t>(4096, 0));
  const Result<std::unique_ptr<Lab>> opened = Lab::open(lab.path());
  EXPECT_FALSE(opened);
  EXPECT_NE(opened.error().find("flash.bin: size 4096 differs"), std::string::npos)
      << opened.error();
  EXPECT_NE(opened.error().find("2097152"), std::string::npos) << opened.error();
}

TEST(LabOpen, NamesTheFileAndLineOfABadConfiguration) {
  test::TempDir lab;
  makeAdapterDirectory(lab, "0000:03:00.0", "flash = EF6015\nspeed = fast\n");
  const Result<std::unique_ptr<Lab>> opened = Lab::open(lab.path());
  EXPECT_FALSE(opened);
  EXPECT_NE(opened.error().find("0000:03:00.0/adapter.conf: line 2: unknown key 'speed'"),
            std::string::npos)
      << opened.error();
}

TEST(LabOpen, ADirectoryThatIsNoLabIsRefused) {
  test::TempDir lab;
  const Result<std::unique_ptr<Lab>> missing = Lab::open(lab / "missing");
  EXPECT_FALSE(missing);
  EXPECT_NE(missing.error().find("no lab"), std::string::npos);
  // An existing directory without adapters is a lab with none.
  std::unique_ptr<Lab> empty = openLab(lab.path());
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->adapters().empty());
}

TEST(LabOpen, FlashChangesReachTheFileAtOnce) {
  test::TempDir lab;
  makeAdapterDirectory(lab, "0000:03:00.0", "flash = EF6015\n");
  std::unique_ptr<Lab> opened = openLab(lab.path());
  ASSERT_NE(opened, nullptr);
  EmulatedAdapter& adapter = *opened->adapter("0000:03:00.0")->adapter;
  {
    VoApiFlashControl flash(&adapter);
    ASSERT_TRUE(flash.init());
    const uint8_t data[] = {1, 2, 3, 4, 5};
    uint32_t done = 0;
    ASSERT_TRUE(flash.write(0x1234, data, 5, done));
  }
  // Read by another route while the lab is still open: the file is the flash.
  const std::vector<uint8_t> file = test::readBinaryFile(lab / "adapters/0000:03:00.0/flash.bin");
  EXPECT_EQ(std::vector<uint8_t>(file.begin() + 0x1234, file.begin() + 0x1239),
            (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST(LabStats, AreWrittenForEveryAdapterTouchedOrNot) {
  test::TempDir lab;
  makeAdapterDirectory(lab, "0000:03:00.0", "flash = EF6015\n");
  makeAdapterDirectory(lab, "0000:04:00.0", "flash = EF6015\npower_cut_after = 1\n");
  std::unique_ptr<Lab> opened = openLab(lab.path());
  ASSERT_NE(opened, nullptr);
  {
    VoApiFlashControl flash(opened->adapter("0000:04:00.0")->adapter.get());
    ASSERT_TRUE(flash.init());
    // The erase takes effect, then the power goes: the erase cannot report success.
    EXPECT_FALSE(flash.eraseSector(0));
  }
  {
    const Result<> written = opened->writeStats();
    ASSERT_TRUE(written) << written.error();
  }
  const std::string untouched = test::readFile(lab / "adapters/0000:03:00.0/stats");
  for (const char* line :
       {"reg_reads = 0\n", "reg_writes = 0\n", "bytes_read = 0\n", "bytes_programmed = 0\n",
        "erases_4k = 0\n", "erases_64k = 0\n", "modifying_transfers = 0\n", "violations = 0\n",
        "power_cut = no\n", "firmware_resets = 0\n", "firmware_boots = 0\n", "phy_restarts = 0\n", "mdio_frames = 0\n",
        "semaphore_held_at_exit = no\n", "violations_mdio_without_semaphore = 0\n",
        "violations_mdio_while_busy = 0\n", "violations_fuse_without_semaphore = 0\n",
        "violations_test_port_sequence = 0\n", "violations_firmware_reset_out_of_order = 0\n"}) {
    EXPECT_NE(untouched.find(line), std::string::npos) << line << untouched;
  }
  for (std::size_t i = 0; i < kViolationKinds; ++i) {
    const std::string line =
        "violations_" + std::string(violationName(static_cast<Violation>(i))) + " = 0\n";
    EXPECT_NE(untouched.find(line), std::string::npos) << line << untouched;
  }
  const std::string cut = test::readFile(lab / "adapters/0000:04:00.0/stats");
  EXPECT_NE(cut.find("erases_4k = 1\n"), std::string::npos) << cut;
  EXPECT_NE(cut.find("modifying_transfers = 1\n"), std::string::npos) << cut;
  EXPECT_NE(cut.find("power_cut = yes\n"), std::string::npos) << cut;
  EXPECT_NE(cut.find("virtual_us = "), std::string::npos) << cut;

  // A semaphore the program took and kept.
  opened->adapter("0000:03:00.0")->adapter->restorePower();
  opened->adapter("0000:03:00.0")->adapter->read32(0x3A4);
  {
    const Result<> written = opened->writeStats();
    ASSERT_TRUE(written) << written.error();
  }
  const std::string held = test::readFile(lab / "adapters/0000:03:00.0/stats");
  EXPECT_NE(held.find("semaphore_held_at_exit = yes\n"), std::string::npos) << held;
}

// The emulator guide names every counter of the stats file (each violation kind by its name in
// the guide's table of kinds): a counter a test or a benchmark reads is looked up there.
TEST(LabStats, EveryCounterIsInTheEmulatorGuide) {
  const std::string guide = test::readFile(std::string(HLV_SOURCE_DIR) + "/doc/emulator.md");
  ASSERT_FALSE(guide.empty());
  const std::string stats = formatStats(AdapterStats{});
  const std::string kindPrefix = "violations_";
  std::size_t counters = 0;
  for (std::size_t at = 0; at < stats.size();) {
    const std::size_t end = stats.find('\n', at);
    const std::string line = stats.substr(at, end - at);
    at = end == std::string::npos ? stats.size() : end + 1;
    std::string name = line.substr(0, line.find(" = "));
    if (name.starts_with(kindPrefix)) name = name.substr(kindPrefix.size());
    ++counters;
    std::string quoted = "`";
    quoted.append(name).push_back('`');
    EXPECT_NE(guide.find(quoted), std::string::npos) << name << " is not in doc/emulator.md";
  }
  EXPECT_GT(counters, kViolationKinds);
}

TEST(LabPlatform, ResolvesSysProcAndRunUnderTheLabAndMapsOnlyItsAdapters) {
  test::TempDir lab;
  makeAdapterDirectory(lab, "0000:03:00.0", "");
  std::unique_ptr<Lab> opened = openLab(lab.path());
  ASSERT_NE(opened, nullptr);
  LabPlatform platform(*opened, 0);
  const std::string root = opened->root();
  EXPECT_EQ(platform.hostPath("/sys/bus/pci/devices"), root + "/sys/bus/pci/devices");
  EXPECT_EQ(platform.hostPath("/proc/12/exe"), root + "/proc/12/exe");
  EXPECT_EQ(platform.hostPath("/run/lock/hlvflashupdate.lock"),
            root + "/run/lock/hlvflashupdate.lock");
  EXPECT_EQ(platform.hostPath("/system"), "/system");
  EXPECT_EQ(platform.hostPath("/running"), "/running");
  EXPECT_EQ(platform.realUserId(), 0u);

  const std::string devices = root + "/sys/bus/pci/devices/";
  const platform::RegisterWindow window =
      platform.mapRegisterWindow(devices + "0000:03:00.0/resource0", 0x400000);
  ASSERT_NE(window.mapping, nullptr);
  EXPECT_EQ(window.fd, -1);
  EXPECT_EQ(platform.emulatedRegisters(window.mapping),
            opened->adapter("0000:03:00.0")->adapter.get());
  for (const std::string& path :
       {devices + "0000:04:00.0/resource0", devices + "0000:03:00.0/resource1",
        devices + "0000:03:00.0/../0000:03:00.0/resource0", std::string("/dev/mem")}) {
    const platform::RegisterWindow refused = platform.mapRegisterWindow(path, 0x400000);
    EXPECT_EQ(refused.mapping, nullptr) << path;
    EXPECT_EQ(refused.fd, -1) << path;
  }
  EXPECT_EQ(platform.liveMappings(), 1);
  platform.unmapRegisterWindow(window, 0x400000);
  EXPECT_EQ(platform.liveMappings(), 0);
  EXPECT_EQ(platform.emulatedRegisters(window.mapping), nullptr);
}

TEST(LabPlatform, ClockAndSleepsAreVirtual) {
  test::TempDir lab;
  std::unique_ptr<Lab> opened = openLab(lab.path());
  ASSERT_NE(opened, nullptr);
  LabPlatform platform(*opened, 0);
  const uint64_t before = platform.monotonicNanoseconds();
  platform.sleepMilliseconds(5000);
  const uint64_t after = platform.monotonicNanoseconds();
  EXPECT_GE(after - before, 5000000000u);
  EXPECT_LT(after - before, 5000001000u);
  // Even a loop that only reads the clock sees time pass.
  EXPECT_GT(platform.monotonicNanoseconds(), after);
}

TEST(LabWriter, WritesALabTheDeviceLayerDiscoversAndTheFlashLayerReaches) {
  test::TempDir directory;
  const std::string root = directory / "lab";
  AdapterConfig config;
  config.jedecId = 0xEF4016;
  LabDescription description = defaultLab(2, config);
  description.adapters[1].driver = "halvern-fwd";
  const Result<> written = writeLab(root, description);
  ASSERT_TRUE(written) << written.error();
  EXPECT_FALSE(writeLab(root, description)) << "a lab is not written over";

  std::unique_ptr<Lab> lab = openLab(root);
  ASSERT_NE(lab, nullptr);
  LabPlatform platform(*lab, 0);
  platform::ScopedPlatform installed(platform);

  AdapterList adapters = discoverAdapters();
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[0]->bdf, "0000:01:00.0");
  EXPECT_EQ(adapters[1]->bdf, "0000:02:00.0");
  EXPECT_EQ(adapters[0]->interfaceName, "enp1s0");
  EXPECT_EQ(adapters[0]->macAddress, "02:00:00:00:01:00");
  EXPECT_EQ(adapters[0]->driverVersion, "2.4.1\n");
  EXPECT_EQ(adapters[0]->vendorId, 0x1E9C);
  EXPECT_EQ(adapters[0]->deviceId, 0x20C3);
  EXPECT_EQ(restartDriver(*adapters[1]), 0u);
  EXPECT_EQ(test::readFile(root + "/sys/bus/pci/drivers/halvern-fwd/bind"), "0000:02:00.0");

  PciDevice device;
  initPciDevice(device, adapters[1]->sysfsPath);
  {
    std::unique_ptr<VoRegControlInterface> registers = openRegisterControl(device);
    VoApiFlashControl flash(registers.get());
    ASSERT_TRUE(flash.init());
    EXPECT_EQ(flash.flashType(), 11u);
    EXPECT_EQ(flash.flashSize, 4u * 1024 * 1024);
  }
  EXPECT_EQ(platform.liveMappings(), 1);
  releasePciDevice(device);
  EXPECT_EQ(platform.liveMappings(), 0);
  EXPECT_GT(lab->adapter("0000:02:00.0")->adapter->stats().regReads, 0u);
  EXPECT_EQ(lab->adapter("0000:02:00.0")->adapter->violations(), 0u);
}

}  // namespace
}  // namespace hlv::sim
