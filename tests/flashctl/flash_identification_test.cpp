// Which part the flash layer finds, and the geometry and parameters it derives for it.
#include <gtest/gtest.h>

#include <ostream>

#include <string>

#include "flashctl/voapiflashcontrol.h"
#include "sim/emulated_adapter.h"

namespace hlv {
namespace {

struct IdentificationCase {
  const char* name;
  uint32_t jedecId;
  bool sfdp;
  bool initSucceeds;
  FlashPartType type;
  uint32_t flashId;
  uint16_t pageSize;
  uint32_t sectorSize;
  uint32_t blockSize;
  uint32_t flashSize;
};

void PrintTo(const IdentificationCase& c, std::ostream* os) {
  *os << c.name;
}

constexpr uint32_t kKiB = 1024;
constexpr uint32_t kMiB = 1024 * 1024;

// One row per identification the table knows, then the fall-throughs.
const IdentificationCase kIdentificationCases[] = {
    {"ShortIdPart", 0x651F, false, true, 0, 0x651F, 128, 0, 0, 64 * kKiB},
    {"ReadyBitPartWithoutExtendedByte", 0x1F2400, false, true, 1, 0x0000241F, 256, 2 * kKiB,
     64 * kKiB, 512 * kKiB},
    {"ReadyBitPartWithExtendedByte", 0x1F240001, false, true, 2, 0x0100241F, 256, 2 * kKiB,
     64 * kKiB, 512 * kKiB},
    {"Type3", 0x202010, false, true, 3, 0x00102020, 256, 0, 0, 64 * kKiB},
    {"Type4AnyThirdByte", 0x1F4301, false, true, 4, 0x0001431F, 256, 0, 0, 256 * kKiB},
    {"Type5", 0x1F4401, false, true, 5, 0x0001441F, 256, 4 * kKiB, 64 * kKiB, 512 * kKiB},
    {"Type6BlockEraseOnly", 0x202013, false, true, 6, 0x00132020, 256, 0, 64 * kKiB, 512 * kKiB},
    {"Type7", 0xC22013, false, true, 7, 0x001320C2, 256, 4 * kKiB, 64 * kKiB, 512 * kKiB},
    {"Type8", 0xC22313, false, true, 8, 0x001323C2, 256, 4 * kKiB, 64 * kKiB, 512 * kKiB},
    {"Type9With512BytePages", 0x1F2701, false, true, 9, 0x0001271F, 512, 4 * kKiB, 64 * kKiB,
     4 * kMiB},
    {"Type10", 0xC22016, false, true, 10, 0x001620C2, 256, 4 * kKiB, 64 * kKiB, 4 * kMiB},
    {"Type11", 0xEF4016, false, true, 11, 0x001640EF, 256, 4 * kKiB, 64 * kKiB, 4 * kMiB},
    {"Type12", 0xEF6015, false, true, 12, 0x001560EF, 256, 4 * kKiB, 64 * kKiB, 2 * kMiB},
    {"Type13", 0xEF3013, false, true, 13, 0x001330EF, 256, 4 * kKiB, 64 * kKiB, 512 * kKiB},
    {"Type14", 0x014016, false, true, 14, 0x00164001, 256, 4 * kKiB, 64 * kKiB, 4 * kMiB},
    {"KnownMakerUnknownDeviceFallsToSfdp", 0xEF4017, true, true, 90, 0x001740EF, 256, 4 * kKiB,
     64 * kKiB, 8 * kMiB},
    {"KnownMakerUnknownDeviceWithoutSfdpIsUnknown", 0xEF4017, false, false, 101, 0x001740EF, 0, 0,
     0, 0},
    {"AllOnesIsUnknownEvenWithSfdp", 0xFFFFFF, true, false, 101, 0x00FFFFFF, 0, 0, 0, 0},
    {"ManufacturerOnesIsUnknownEvenWithSfdp", 0xFF4016, true, false, 101, 0x001640FF, 0, 0, 0, 0},
    {"DeviceAndCapacityOnesIsUnknownEvenWithSfdp", 0xEFFFFF, true, false, 101, 0x00FFFFEF, 0, 0, 0,
     0},
};

class Identification : public testing::TestWithParam<IdentificationCase> {};

TEST_P(Identification, FindsThePartTypeAndItsGeometry) {
  const IdentificationCase& c = GetParam();
  sim::VirtualClock clock;
  sim::AdapterConfig config;
  config.jedecId = c.jedecId;
  config.sfdp = c.sfdp;
  sim::EmulatedAdapter adapter(config, clock);
  VoApiFlashControl flash(&adapter);
  ASSERT_EQ(flash.init(), c.initSucceeds);
  EXPECT_EQ(flash.flashType(), c.type);
  EXPECT_EQ(flash.flashId, c.flashId);
  EXPECT_EQ(flash.pageSize, c.pageSize);
  EXPECT_EQ(flash.sectorSize, c.sectorSize);
  EXPECT_EQ(flash.blockSize, c.blockSize);
  EXPECT_EQ(flash.flashSize, c.flashSize);
  EXPECT_EQ(flash.blockEraseSupported, c.blockSize != 0);
  EXPECT_EQ(adapter.violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryRow, Identification, testing::ValuesIn(kIdentificationCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Identification, ShortIdPartIsNotAskedForItsJedecIdentification) {
  sim::VirtualClock clock;
  sim::AdapterConfig config;
  config.jedecId = sim::kShortIdPart;
  sim::EmulatedAdapter adapter(config, clock);
  VoApiFlashControl flash(&adapter);
  ASSERT_TRUE(flash.init());
  // One transfer for the short identification, none after it.
  EXPECT_EQ(adapter.stats().transfers, 1u);
}

// The parameter record of each fixed type: opcodes, status convention and timeout.
struct ParameterCase {
  FlashPartType type;
  uint16_t rdsr, busyMask, readyWhenSet, smallErase, largeErase, statusTimeout;
  uint16_t writeEnableCommand, writeStatusCommand;
};

const ParameterCase kParameterCases[] = {
    {0, 0x05, 0x01, 0, 0, 0, 10, 0x8006, 0x8001},
    {1, 0xD7, 0x80, 1, 0x50, 0x7C, 17, 0, 0},
    {2, 0xD7, 0x80, 1, 0x50, 0x7C, 17, 0, 0},
    {3, 0x05, 0x01, 0, 0, 0, 10, 0x8006, 0x8001},
    {4, 0x05, 0x01, 0, 0, 0, 10, 0x8006, 0x8001},
    {5, 0x05, 0x01, 0, 0x20, 0xD8, 10, 0x8006, 0x8001},
    {6, 0x05, 0x01, 0, 0, 0xD8, 10, 0x8006, 0x8001},
    {7, 0x05, 0x01, 0, 0x20, 0xD8, 10, 0x8006, 0x8001},
    {8, 0x05, 0x01, 0, 0x20, 0xD8, 10, 0x8006, 0x8001},
    {9, 0xD7, 0x80, 1, 0x50, 0x7C, 80, 0, 0},
    {10, 0x05, 0x01, 0, 0x20, 0xD8, 50, 0x8006, 0x8001},
    {11, 0x05, 0x01, 0, 0x20, 0xD8, 50, 0x8006, 0x8001},
    {12, 0x05, 0x01, 0, 0x20, 0xD8, 10, 0x8006, 0x8001},
    {13, 0x05, 0x01, 0, 0x20, 0xD8, 10, 0x8006, 0x8001},
    {14, 0x05, 0x01, 0, 0x20, 0xD8, 50, 0x8006, 0x8001},
};

TEST(LoadParams, FixedTypesTakeTheirRowOfTheParameterTable) {
  const FlashHwContext context;
  for (const ParameterCase& c : kParameterCases) {
    SCOPED_TRACE(c.type);
    FlashParams params;
    ASSERT_EQ(loadParams(context, c.type, params), FLASH_OK);
    EXPECT_EQ(params.rdsrOpcode, c.rdsr);
    EXPECT_EQ(params.busyMask, c.busyMask);
    EXPECT_EQ(params.readyWhenSet, c.readyWhenSet);
    EXPECT_EQ(params.smallEraseOpcode, c.smallErase);
    EXPECT_EQ(params.largeEraseOpcode, c.largeErase);
    EXPECT_EQ(params.statusTimeout, c.statusTimeout);
    EXPECT_EQ(params.writeEnableCommand, c.writeEnableCommand);
    EXPECT_EQ(params.writeStatusCommand, c.writeStatusCommand);
    EXPECT_EQ(params.statusCommand, 0x8000 | c.rdsr);
    EXPECT_EQ(params.readContinueCommand, 0x8403);
    EXPECT_EQ(params.programContinueCommand, 0xC402);
    EXPECT_EQ(params.programLastCommand, 0x4002);
    EXPECT_EQ(params.readFormat, 0x0403);
  }
}

TEST(LoadParams, TypesWithoutParametersKeepTheDefaults) {
  const FlashHwContext context;
  for (FlashPartType type : {kFlashPartNoInterface, kFlashPartUnknown, FlashPartType{15}}) {
    FlashParams params;
    EXPECT_EQ(loadParams(context, type, params), FLASH_NO_PARAMETERS);
    EXPECT_EQ(params.pageSize, 256);
    EXPECT_EQ(params.statusTimeout, 10);
    EXPECT_EQ(params.flashSize, 0u);
  }
}

// Parameters of a part described by its SFDP area, for both table revisions.
struct SfdpCase {
  const char* name;
  sim::SfdpRevision revision;
  bool volatileStatus;
  uint16_t wren;
  uint16_t statusTimeout;
};

void PrintTo(const SfdpCase& c, std::ostream* os) {
  *os << c.name;
}

const SfdpCase kSfdpCases[] = {
    // Revision 1.0: nine words, no page size or timing words.
    {"Revision10", sim::SfdpRevision::k1_0, false, 0x06, 60},
    {"Revision10VolatileStatus", sim::SfdpRevision::k1_0, true, 0x50, 60},
    // Revision 1.6: the 8 MiB part's typical chip erase is 5 x 4 s and its maximum erase time six
    // times the typical one: 6 x 20 = 120 units.
    {"Revision16", sim::SfdpRevision::k1_6, false, 0x06, 120},
    {"Revision16VolatileStatus", sim::SfdpRevision::k1_6, true, 0x50, 120},
};

class SfdpParameters : public testing::TestWithParam<SfdpCase> {};

TEST_P(SfdpParameters, DescribeThePartAndItsWriteEnables) {
  const SfdpCase& c = GetParam();
  sim::VirtualClock clock;
  sim::AdapterConfig config;
  config.jedecId = 0xEF4017;
  config.sfdp = true;
  config.sfdpRevision = c.revision;
  config.volatileStatusWriteEnable = c.volatileStatus;
  sim::EmulatedAdapter adapter(config, clock);
  VoApiFlashControl flash(&adapter);
  ASSERT_TRUE(flash.init());
  const FlashParams& params = flash.params();
  EXPECT_EQ(params.type, kFlashPartSfdp);
  EXPECT_EQ(params.pageSize, 256);
  EXPECT_EQ(params.rdsrOpcode, 0x05);
  EXPECT_EQ(params.busyMask, 0x01);
  EXPECT_EQ(params.smallEraseOpcode, 0x20);
  EXPECT_EQ(params.smallErasePages, 16);
  // The part offers 4 KiB, 32 KiB and 64 KiB erases: only the 64 KiB one is the large erase.
  EXPECT_EQ(params.largeEraseOpcode, 0xD8);
  EXPECT_EQ(params.largeErasePages, 256);
  EXPECT_EQ(params.flashSize, 8 * kMiB);
  EXPECT_EQ(params.statusTimeout, c.statusTimeout);
  EXPECT_EQ(params.wrenOpcode, c.wren);
  EXPECT_EQ(params.statusWriteEnableCommand, 0x8000 | c.wren);
  // Program and erase need the write enable latch, which only 0x06 sets.
  EXPECT_EQ(params.writeEnableCommand, 0x8006);

  // So the part can be erased and programmed either way.
  std::vector<uint8_t> data(300, 0x3C);
  uint32_t done = 0;
  ASSERT_TRUE(flash.eraseSector(0x10000));
  ASSERT_TRUE(flash.write(0x10000, data.data(), 300, done));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), adapter.flash().begin() + 0x10000));
  EXPECT_EQ(adapter.violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Revisions, SfdpParameters, testing::ValuesIn(kSfdpCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hlv
