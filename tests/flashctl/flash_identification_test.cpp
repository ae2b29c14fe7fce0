// Which part the flash layer finds, and the geometry and parameters it derives for it.
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "flashctl/flash_part_tables.h"
#include "flashctl/voapiflashcontrol.h"
#include "sim/emulated_adapter.h"
#include "sim/flash_part_model.h"

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

// What falls outside the table's rows: a known maker with an unknown device, and identifications
// that are unknown even when an SFDP signature could be read. Every row of the table is checked
// against the emulated part it describes below.
const IdentificationCase kIdentificationCases[] = {
    {"KnownMakerUnknownDeviceFallsToSfdp", 0xEF4017, true, true, 90, 0x001740EF, 256, 4 * kKiB,
     64 * kKiB, 8 * kMiB},
    {"KnownMakerUnknownDeviceWithoutSfdpIsUnknown", 0xEF4017, false, false, 101, 0x001740EF, 0, 0,
     0, 0},
    {"AllOnesIsUnknownEvenWithSfdp", 0xFFFFFF, true, false, 101, 0x00FFFFFF, 0, 0, 0, 0},
    {"ManufacturerOnesIsUnknownEvenWithSfdp", 0xFF4016, true, false, 101, 0x001640FF, 0, 0, 0, 0},
    {"DeviceAndCapacityOnesIsUnknownEvenWithSfdp", 0xEFFFFF, true, false, 101, 0x00FFFFEF, 0, 0, 0,
     0},
    // The short answer's bytes in the JEDEC answer are not the short-ID part.
    {"ShortAnswerBytesInTheJedecAnswerAreUnknown", 0x1F6500, false, false, 101, 0x0000651F, 0, 0, 0,
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

INSTANTIATE_TEST_SUITE_P(OutsideTheTable, Identification, testing::ValuesIn(kIdentificationCases),
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

uint32_t wireWord(const std::vector<uint8_t>& bytes) {
  uint32_t word = 0;
  for (size_t i = 0; i < bytes.size() && i < 4; ++i)
    word |= uint32_t{bytes[i]} << (8 * i);
  return word;
}

std::set<std::pair<uint8_t, uint32_t>> erasesOf(const FlashPart& row) {
  std::set<std::pair<uint8_t, uint32_t>> erases;
  for (const EraseOpcode& erase : {row.smallErase, row.largeErase}) {
    if (erase.pages != 0) erases.insert({erase.opcode, uint32_t{erase.pages} * row.pageSize});
  }
  return erases;
}

// The flash layer's table and the emulator's model of the parts are written apart, the one as
// the layer drives a part and the other as the part behaves: every part the emulator knows is
// identified as the row of its name, and the row says what the part is, quirks included. Each
// row is reached exactly once, so a row without its emulated part fails too.
TEST(PartTable, AgreesWithTheEmulatedPartsRowByRow) {
  std::set<FlashPartType> reached;
  for (const uint32_t jedecId : sim::knownPartIdentifications()) {
    sim::VirtualClock clock;
    sim::AdapterConfig config;
    config.jedecId = jedecId;
    const sim::FlashPartModel model = sim::partModelFor(config);
    SCOPED_TRACE(model.name);
    sim::EmulatedAdapter adapter(config, clock);
    VoApiFlashControl flash(&adapter);
    ASSERT_TRUE(flash.init());
    const FlashPart* row = parametersOf(flash.flashType());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(std::string(row->name), model.name);
    EXPECT_TRUE(reached.insert(row->type).second);
    EXPECT_EQ(flash.flashId, wireWord(model.idBytes));

    EXPECT_EQ(row->flashSize, model.capacity);
    EXPECT_EQ(row->pageSize, model.pageSize);
    std::set<std::pair<uint8_t, uint32_t>> modelErases;
    for (const sim::EraseCommand& erase : model.erases)
      modelErases.insert({erase.opcode, erase.size});
    EXPECT_EQ(erasesOf(*row), modelErases);
    EXPECT_EQ(row->quirks.readyBitStatus, model.status == sim::StatusStyle::kReadyBit);
    EXPECT_EQ(row->quirks.noWriteEnable, !model.usesWriteEnable());
    EXPECT_EQ(uint32_t{row->quirks.splitFirstUnitPages} * row->pageSize, model.firstUnitSplit);

    // And the layer's geometry is the row's.
    EXPECT_EQ(flash.flashSize, row->flashSize);
    EXPECT_EQ(flash.pageSize, row->pageSize);
    EXPECT_EQ(flash.sectorSize, uint32_t{row->smallErase.pages} * row->pageSize);
    EXPECT_EQ(flash.blockSize, uint32_t{row->largeErase.pages} * row->pageSize);
    EXPECT_EQ(flash.blockEraseSupported, row->largeErase.pages != 0);
    EXPECT_EQ(adapter.violations(), 0u);
  }
  EXPECT_EQ(reached.size(), flashPartTable().size());
}

// The parameter record of each row: a ready-bit part polls bit 7 of its own status read and
// takes no write enable or status write; every other part polls bit 0 of 0x05 behind a 0x06.
TEST(LoadParams, EveryRowGivesItsOpcodesStatusConventionAndTimeout) {
  const FlashHwContext context;
  for (const FlashPart& row : flashPartTable()) {
    SCOPED_TRACE(row.name);
    FlashParams params;
    ASSERT_EQ(loadParams(context, row.type, params), FLASH_OK);
    const bool readyBit = row.quirks.readyBitStatus;
    EXPECT_EQ(params.rdsrOpcode, readyBit ? 0xD7 : 0x05);
    EXPECT_EQ(params.busyMask, readyBit ? 0x80 : 0x01);
    EXPECT_EQ(params.readyWhenSet, readyBit ? 1 : 0);
    EXPECT_EQ(params.writeEnableCommand, row.quirks.noWriteEnable ? 0 : 0x8006);
    EXPECT_EQ(params.writeStatusCommand, row.quirks.noWriteEnable ? 0 : 0x8001);
    EXPECT_EQ(params.smallEraseOpcode, row.smallErase.opcode);
    EXPECT_EQ(params.largeEraseOpcode, row.largeErase.opcode);
    EXPECT_EQ(params.splitFirstUnitPages, row.quirks.splitFirstUnitPages);
    EXPECT_EQ(params.statusTimeout, row.statusTimeout);
    EXPECT_EQ(params.statusCommand, 0x8000 | params.rdsrOpcode);
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
