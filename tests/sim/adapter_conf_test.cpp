// The lab's adapter.conf: what each key reads, what a bad line says, and that the one key table
// writes back every key it reads.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <ostream>
#include <string>

#include "sim/adapter_conf.h"
#include "tests/support/files.h"

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

// Every key the table reads is written back when its value is not the default: a key whose
// writing was forgotten would be lost from every lab a capture or hlvsim writes. The revision
// alone is written within sfdp's line, and without an SFDP area it is nothing to keep.
TEST(AdapterConf, EveryKeyItReadsIsWrittenBack) {
  // A part the identification table does not know, so that its capacity may be given.
  const std::string base = "flash = EF4017\n";
  AdapterConfig plain;
  ASSERT_TRUE(parseAdapterConf(base, plain));
  const std::string plainText = formatAdapterConf(plain);
  for (const AdapterConfKey& key : adapterConfKeys()) {
    SCOPED_TRACE(std::string(key.name));
    // Only the revision goes out within another key's line (sfdp = 1.0).
    EXPECT_EQ(key.written, key.name != "sfdp_revision");
    AdapterConfig config;
    const std::string line = std::string(key.name) + " = " + std::string(key.example) + "\n";
    const Result<> parsed = parseAdapterConf(base + line, config);
    ASSERT_TRUE(parsed) << parsed.error();
    const std::string text = formatAdapterConf(config);
    if (key.written) {
      EXPECT_NE(text.find(line), std::string::npos) << text;
    } else {
      EXPECT_EQ(text, plainText);
    }
    AdapterConfig again;
    ASSERT_TRUE(parseAdapterConf(text, again));
    EXPECT_EQ(formatAdapterConf(again), text);
  }
}

// The emulator guide's table of adapter.conf keys is where whoever builds a lab looks a key up:
// a key the table reads and the guide does not name is one nobody can find.
TEST(AdapterConf, EveryKeyItReadsIsInTheEmulatorGuide) {
  const std::string guide = test::readFile(std::string(HLV_SOURCE_DIR) + "/doc/emulator.md");
  ASSERT_FALSE(guide.empty());
  for (const AdapterConfKey& key : adapterConfKeys()) {
    std::string quoted = "`";
    quoted.append(key.name).push_back('`');
    EXPECT_NE(guide.find(quoted), std::string::npos) << key.name << " is not in doc/emulator.md";
  }
}

}  // namespace
}  // namespace hlv::sim
