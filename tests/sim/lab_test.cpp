// The lab on disk: adapter.conf, the written-through flash file, the stats, the lab platform,
// and a lab written by hlvsim as the device layer sees it.
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

struct ConfCase {
  const char* name;
  const char* text;
  bool ok;
  const char* errorPart;  // for failures: a piece of the message
};

void PrintTo(const ConfCase& c, std::ostream* os) {
  *os << c.name;
}

const ConfCase kConfCases[] = {
    {"Empty", "", true, ""},
    {"CommentsAndBlankLines",
     "# a lab adapter\n\n   # indented comment\nflash = EF6015 # trailing\n", true, ""},
    {"EveryKey",
     "flash=C22016\nsfdp = yes\nsfdp_revision = 1.0\nsfdp_volatile_status = yes\nprotected = yes\n"
     "power_cut_after = 12\nengine_stuck = no\npart_stuck = no\nengine_busy_us = 20\n"
     "engine_jitter_us = 0\nengine_seed = 5\npower_cut_torn = yes\nseed = 9\nkill_at_us = 250\n",
     true, ""},
    {"ShortIdPart", "flash = 651F\n", true, ""},
    {"FourByteIdentification", "flash = 1F240001\n", true, ""},
    {"UnknownKey", "flash = EF6015\nfirmware_version = 1.2.3\n", false,
     "line 2: unknown key 'firmware_version'"},
    {"IdWithFiveDigits", "flash = EF601\n", false, "bad value 'EF601' for flash"},
    {"IdNotHex", "flash = EFG015\n", false, "for flash"},
    {"FourDigitsOtherThanTheShortId", "flash = 1234\n", false, "for flash"},
    {"YesNoMisspelt", "protected = true\n", false, "expected yes or no"},
    {"NegativeCount", "power_cut_after = -1\n", false, "for power_cut_after"},
    {"NoEqualsSign", "flash EF6015\n", false, "line 1: expected 'key = value'"},
    {"SfdpRevisionUnknown", "sfdp = 2.0\n", false, "for sfdp"},
    {"CapacityOfAGenericPart", "flash = EF7099\ncapacity = 0x400000\n", true, ""},
    {"CapacityNotAPowerOfTwo", "flash = EF7099\ncapacity = 3000000\n", false, "for capacity"},
    {"CapacityOfAFixedPart", "flash = EF6015\ncapacity = 4194304\n", false,
     "capacity 4194304 does not fit the part EF6015"},
    // A ready-bit part has no status write: locked, it could never be written.
    {"ProtectedReadyBitPart", "flash = 1F2400\nprotected = yes\n", false,
     "protected = yes on the part 1F2400"},
    {"ProtectedBeforeTheReadyBitPartIsNamed", "protected = yes\nflash = 1F2701\n", false,
     "nothing could ever unlock it"},
    {"EngineBusyTimeOfZero", "engine_busy_us = 0\n", false, "for engine_busy_us"},
    {"EngineJitterTooLong", "engine_jitter_us = 1000001\n", false, "for engine_jitter_us"},
    {"EngineSeedNotANumber", "engine_seed = x\n", false, "for engine_seed"},
    {"TornCutMisspelt", "power_cut_torn = 1\n", false, "for power_cut_torn"},
    {"SeedNegative", "seed = -3\n", false, "for seed"},
    {"KillTimeNotANumber", "kill_at_us = soon\n", false, "for kill_at_us"},
    {"FlashFaultAndBitLevelTear",
     "torn_erase = bits\nflash_fault_at = 3\nflash_fault = wrong\n", true, ""},
    {"TornEraseByWords", "torn_erase = words\n", false, "for torn_erase (expected bytes or bits)"},
    {"FlashFaultUnknown", "flash_fault = slow\n", false, "expected ignored, wrong or stuck"},
    {"FlashFaultAtNotANumber", "flash_fault_at = last\n", false, "for flash_fault_at"},
    {"FirmwareKeys",
     "firmware = none\nfirmware_stuck = yes\nphy = no\nphy_address = 31\nphy_stuck = yes\n"
     "chip_revision = 0x10A\nfuse_status = 4096\nfuse_digest = "
     "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF\n"
     "mdio_semaphore = held\nfuse_semaphore = free\ninterrupt_at_grant = 3\n",
     true, ""},
    {"FirmwareTimingKeys",
     "firmware_reset_latency_us = 0\nfirmware_reset_jitter_us = 1000000\n"
     "firmware_reset_seed = 3\nfirmware_mdio_every_us = 0\nfirmware_mdio_seed = 8\n",
     true, ""},
    {"ResetLatencyTooLong", "firmware_reset_latency_us = 1000001\n", false,
     "for firmware_reset_latency_us"},
    {"ResetJitterNotANumber", "firmware_reset_jitter_us = some\n", false,
     "for firmware_reset_jitter_us"},
    {"FirmwareMdioEveryNegative", "firmware_mdio_every_us = -5\n", false,
     "for firmware_mdio_every_us"},
    {"FirmwareMdioSeedHex", "firmware_mdio_seed = 0x10\n", false, "for firmware_mdio_seed"},
    {"SignalHooks", "signal = hup\nsignal_at_command = 12\nsignal_at_us = 5000\n", true, ""},
    {"SignalNotTakenAsAnInterrupt", "signal = kill\n", false,
     "for signal (expected int, term, hup or quit)"},
    {"SignalByNumber", "signal = 15\n", false, "for signal"},
    {"SignalCommandNotANumber", "signal_at_command = first\n", false, "for signal_at_command"},
    {"FirmwareInterfaceUnknown", "firmware = 3\n", false, "for firmware (expected 1, 2 or none)"},
    {"PhyAddressTooHigh", "phy_address = 32\n", false, "for phy_address"},
    {"DigestTooShort", "fuse_digest = 0011\n", false, "for fuse_digest"},
    {"DigestNotHex",
     "fuse_digest = 000000000000000000000000000000000000000000000000000000000000000g\n", false,
     "for fuse_digest"},
    {"SemaphoreTaken", "mdio_semaphore = taken\n", false, "expected free or held"},
    {"RevisionTooLarge", "chip_revision = 0x100000000\n", false, "for chip_revision"},
    {"MappingRefusalUnknown", "map_refused = yes\n", false, "expected no, eperm or eacces"},
};

class AdapterConf : public testing::TestWithParam<ConfCase> {};

TEST_P(AdapterConf, ParsesOrSaysWhatIsWrong) {
  const ConfCase& c = GetParam();
  AdapterConfig config;
  const Result<> parsed = parseAdapterConf(c.text, config);
  EXPECT_EQ(parsed.ok(), c.ok) << parsed.error();
  if (!c.ok) {
    EXPECT_NE(parsed.error().find(c.errorPart), std::string::npos) << parsed.error();
  }
}

INSTANTIATE_TEST_SUITE_P(Texts, AdapterConf, testing::ValuesIn(kConfCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AdapterConf, ValuesLandInTheConfigurationAndFormatBack) {
  AdapterConfig config;
  ASSERT_TRUE(parseAdapterConf(
      "flash = 1F240001\nsfdp = 1.0\npower_cut_after = 7\npart_stuck = yes\n"
      "engine_busy_us = 12\nengine_jitter_us = 5\nengine_seed = 99\npower_cut_torn = yes\n"
      "seed = 1234\nmap_refused = eperm\nkill_at_us = 4000\nsignal = term\n"
      "signal_at_command = 77\nsignal_at_us = 900\ntorn_erase = bits\nflash_fault_at = 5\n"
      "flash_fault = stuck\n",
      config));
  EXPECT_EQ(config.tornErase, TornErase::kBits);
  EXPECT_EQ(config.flashFaultAt, 5u);
  EXPECT_EQ(config.flashFault, FlashFault::kStuck);
  EXPECT_EQ(config.killAtUs, 4000u);
  EXPECT_EQ(config.testSignal, SIGTERM);
  EXPECT_EQ(config.signalAtCommand, 77u);
  EXPECT_EQ(config.signalAtUs, 900u);
  EXPECT_TRUE(config.powerCutTorn);
  EXPECT_EQ(config.tornSeed, 1234u);
  EXPECT_EQ(config.mappingRefusal, EPERM);
  EXPECT_EQ(config.jedecId, 0x1F240001u);
  EXPECT_EQ(config.timings.engineTransferNs, 12000u);
  EXPECT_EQ(config.timings.engineJitterNs, 5000u);
  EXPECT_EQ(config.timings.engineJitterSeed, 99u);
  EXPECT_TRUE(config.sfdp);
  EXPECT_EQ(config.sfdpRevision, SfdpRevision::k1_0);
  EXPECT_FALSE(config.protectedAtPowerOn);
  EXPECT_EQ(config.powerCutAfter, 7u);
  EXPECT_TRUE(config.partStuck);
  EXPECT_FALSE(config.engineStuck);

  AdapterConfig again;
  const Result<> parsedAgain = parseAdapterConf(formatAdapterConf(config), again);
  ASSERT_TRUE(parsedAgain) << parsedAgain.error();
  EXPECT_EQ(formatAdapterConf(again), formatAdapterConf(config));
  EXPECT_EQ(again.testSignal, SIGTERM);
  EXPECT_EQ(again.signalAtCommand, 77u);
  EXPECT_EQ(again.signalAtUs, 900u);
  EXPECT_EQ(again.tornErase, TornErase::kBits);
  EXPECT_EQ(again.flashFaultAt, 5u);
  EXPECT_EQ(again.flashFault, FlashFault::kStuck);
}

TEST(AdapterConf, FirmwareValuesLandInTheConfigurationAndFormatBack) {
  AdapterConfig config;
  const Result<> parsed = parseAdapterConf(
      "firmware = 2\nphy_address = 7\nchip_revision = 0x10A\nfuse_status = 0x1000\n"
      "fuse_digest = 0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20\n"
      "fuse_semaphore = held\nphy_stuck = yes\nfirmware_reset_latency_us = 2500\n"
      "firmware_reset_jitter_us = 700\nfirmware_reset_seed = 42\nfirmware_mdio_every_us = 0\n"
      "firmware_mdio_seed = 9\n",
      config);
  ASSERT_TRUE(parsed) << parsed.error();
  EXPECT_EQ(config.timings.firmwareResetLatencyNs, 2500000u);
  EXPECT_EQ(config.timings.firmwareResetJitterNs, 700000u);
  EXPECT_EQ(config.timings.firmwareResetJitterSeed, 42u);
  EXPECT_EQ(config.timings.firmwareMdioEveryNs, 0u) << "the firmware never uses the bus";
  EXPECT_EQ(config.timings.firmwareMdioSeed, 9u);
  const FirmwareConfig& f = config.firmware;
  EXPECT_EQ(f.kind, FirmwareKind::kInterface2);
  EXPECT_EQ(f.phyAddress, 7);
  EXPECT_TRUE(f.phy);
  EXPECT_EQ(f.chipRevision, 0x10Au);
  EXPECT_EQ(f.fuseStatus, 0x1000u);
  EXPECT_EQ(f.fuseDigest[0], 0x01);
  EXPECT_EQ(f.fuseDigest[31], 0x20);
  EXPECT_TRUE(f.fuseSemaphoreHeld);
  EXPECT_FALSE(f.mdioSemaphoreHeld);
  EXPECT_TRUE(f.phyStuck);
  EXPECT_FALSE(f.stuck);

  AdapterConfig again;
  const Result<> parsedAgain = parseAdapterConf(formatAdapterConf(config), again);
  ASSERT_TRUE(parsedAgain) << parsedAgain.error();
  EXPECT_EQ(formatAdapterConf(again), formatAdapterConf(config));
  EXPECT_EQ(again.firmware.fuseDigest, f.fuseDigest);
  EXPECT_EQ(again.timings.firmwareResetLatencyNs, 2500000u);
  EXPECT_EQ(again.timings.firmwareResetJitterNs, 700000u);
  EXPECT_EQ(again.timings.firmwareResetJitterSeed, 42u);
  EXPECT_EQ(again.timings.firmwareMdioEveryNs, 0u);
  EXPECT_EQ(again.timings.firmwareMdioSeed, 9u);

  const FirmwareConfig defaults;
  EXPECT_EQ(defaults.kind, FirmwareKind::kInterface1);
  EXPECT_TRUE(defaults.phy);
  EXPECT_EQ(defaults.phyAddress, 1);
  EXPECT_EQ(defaults.chipRevision, 0x109u);
  EXPECT_EQ(defaults.fuseStatus, 0u);
  EXPECT_EQ(defaults.fuseDigest, (std::array<uint8_t, 32>{}));
}

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
