// The read, program and erase sequences against emulated parts: data lands where it should,
// the transfers are the ones the part needs, and faults end in failures, not in false success.
#include <gtest/gtest.h>

#include <ostream>

#include <algorithm>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "flashctl/flash_protocol.h"
#include "flashctl/voapiflashcontrol.h"
#include "sim/emulated_adapter.h"
#include "tests/support/adapter_rig.h"

namespace hlv {
namespace {

std::vector<uint8_t> pattern(uint32_t length, uint8_t seed) {
  std::vector<uint8_t> data(length);
  for (uint32_t i = 0; i < length; ++i)
    data[i] = static_cast<uint8_t>(seed + i * 37 + (i >> 8));
  return data;
}

// The adapter rig with an initialised flash control object on it, driving it through the
// recorder.
struct Bench : test::AdapterRig {
  explicit Bench(uint32_t jedecId, bool protectedAtPowerOn = false)
      : Bench(withPart(jedecId, protectedAtPowerOn)) {}
  explicit Bench(const sim::AdapterConfig& c)
      : AdapterRig(c, test::TrafficCheck::kExpectClean, "the flash bench") {
    flash = std::make_unique<VoApiFlashControl>(&recorder);
    EXPECT_TRUE(flash->init());
    recorder.accesses.clear();
  }
  // The interface is closed first, so that what closing it does is counted as well.
  ~Bench() { flash.reset(); }
  uint8_t statusOpcode() const { return static_cast<uint8_t>(flash->params().rdsrOpcode); }
  std::vector<uint8_t> flashBytes(uint32_t address, uint32_t length) const {
    const auto begin = adapter.flash().begin() + address;
    return {begin, begin + length};
  }

  std::unique_ptr<VoApiFlashControl> flash;
};

struct Part {
  const char* name;
  uint32_t jedecId;
};

void PrintTo(const Part& c, std::ostream* os) {
  *os << c.name;
}

// A standard part, the two ready-bit page sizes, and the short-ID part with 128-byte pages.
const Part kParts[] = {
    {"Type12", 0xEF6015},
    {"Type1ReadyBit", 0x1F2400},
    {"Type9ReadyBit512BytePages", 0x1F2701},
    {"Type0ShortId128BytePages", sim::kShortIdPart},
};

// Where a transfer starts relative to a page (negative: before the next page's start) and how
// long it is; the page is the fifth of the part.
struct Span {
  const char* name;
  int32_t start;
  int32_t length;  // <= 0: relative to the page size
};

void PrintTo(const Span& c, std::ostream* os) {
  *os << c.name;
}

const Span kSpans[] = {
    {"OneByte", 0x10, 1},
    {"TwoBytes", 0x10, 2},
    {"ThreeBytes", 0x11, 3},
    {"FourBytes", 0x10, 4},
    {"FiveBytes", 0x13, 5},
    {"EightBytes", 0x10, 8},
    {"StartsTwoBytesBeforePageEnd", -2, 10},
    {"EndsTwoBytesBeforePageEnd", 0, -2},
    {"WholePage", 0, 0},
    {"UnalignedOverThreePages", 3, 0x200 + 7},
    {"OddStartOddLength", 1, 6},
};

class ReadAndProgram : public testing::TestWithParam<std::tuple<Part, Span>> {};

TEST_P(ReadAndProgram, PutsExactlyTheBufferIntoTheFlashAndReadsItBack) {
  const auto& [part, span] = GetParam();
  Bench bench(part.jedecId);
  const uint32_t page = bench.flash->pageSize;
  const uint32_t pageStart = 4 * page;
  const uint32_t start = span.start >= 0 ? pageStart + span.start : pageStart + page + span.start;
  const uint32_t length = span.length > 0 ? span.length : page + span.length;
  const std::vector<uint8_t> data = pattern(length, 0x41);

  uint32_t done = 0;
  ASSERT_TRUE(bench.flash->write(start, data.data(), length, done));
  EXPECT_EQ(done, length);
  EXPECT_EQ(bench.flashBytes(start, length), data);
  // Nothing beyond the buffer is touched, on either side.
  EXPECT_EQ(bench.flashBytes(start - 16, 16), std::vector<uint8_t>(16, 0xFF));
  EXPECT_EQ(bench.flashBytes(start + length, 16), std::vector<uint8_t>(16, 0xFF));

  std::vector<uint8_t> back(length + 2, 0xEE);
  ASSERT_TRUE(bench.flash->read(start, back.data(), length, done));
  EXPECT_EQ(done, length);
  EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.begin() + length), data);
  EXPECT_EQ(back[length], 0xEE) << "read wrote past its buffer";
  EXPECT_EQ(bench.adapter.violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, ReadAndProgram,
                         testing::Combine(testing::ValuesIn(kParts), testing::ValuesIn(kSpans)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

TEST(ReadSequence, UpToFourBytesTakeOneWordWithoutAContinueCommand) {
  for (uint32_t length = 1; length <= 4; ++length) {
    SCOPED_TRACE(length);
    Bench bench(0xEF6015);
    std::vector<uint8_t> buffer(length);
    uint32_t done = 0;
    ASSERT_TRUE(bench.flash->read(0x100, buffer.data(), length, done));
    // The opcode is written alone, the address set, and then the word started.
    std::vector<uint32_t> readCommands;
    for (const test::RegisterAccess& access : bench.recorder.accesses) {
      if (access.write && access.offset == reg::kFlashCommand && (access.value & 0xFF) == 0x03) {
        readCommands.push_back(access.value);
      }
    }
    EXPECT_EQ(readCommands, (std::vector<uint32_t>{0x0003, 0x8003}));
  }
}

TEST(ReadSequence, EightBytesTakeOneContinuedWordAndOneLastWord) {
  Bench bench(0xEF6015);
  std::copy_n(pattern(8, 1).begin(), 8, bench.adapter.flash().begin() + 0x200);
  std::vector<uint8_t> buffer(8);
  uint32_t done = 0;
  ASSERT_TRUE(bench.flash->read(0x200, buffer.data(), 8, done));
  EXPECT_EQ(buffer, pattern(8, 1));
  std::vector<uint32_t> readWords;
  for (const test::RegisterAccess& access : bench.recorder.accesses) {
    if (access.write && access.offset == reg::kFlashCommand &&
        (access.value & reg::kFlashCommandStart) && (access.value & 0xFF) == 0x03) {
      readWords.push_back(access.value);
    }
  }
  // The first word keeps chip select, the last releases it.
  EXPECT_EQ(readWords, (std::vector<uint32_t>{0x8403, 0x8003}));
}

TEST(ProgramSequence, AChunkEndingTwoBytesBeforeThePageEndIsFollowedByAFreshPageCommand) {
  Bench bench(0xEF6015);
  const std::vector<uint8_t> data = pattern(10, 7);
  uint32_t done = 0;
  ASSERT_TRUE(bench.flash->write(0x1FE, data.data(), 10, done));
  // Write enable and a last word of 2 bytes; then the next page: write enable, one continued
  // word of 4 bytes, a last word of 4 bytes.
  EXPECT_EQ(bench.recorder.commandsOtherThan(0x05),
            (std::vector<uint8_t>{0x06, 0x02, 0x06, 0x02, 0x02}));
  std::vector<uint32_t> addresses;
  for (const test::RegisterAccess& access : bench.recorder.accesses) {
    if (access.write && access.offset == reg::kFlashAddress) addresses.push_back(access.value);
  }
  EXPECT_EQ(addresses, (std::vector<uint32_t>{0x1FE, 0x200}));
  EXPECT_EQ(bench.flashBytes(0x1FE, 10), data);
  EXPECT_EQ(bench.adapter.stats().bytesProgrammed, 10u);
  EXPECT_EQ(bench.adapter.violations(), 0u);
}

TEST(ProgramSequence, PageChunksOfErasedBytesAreNotProgrammedAndTheFlashEndsTheSame) {
  Bench bench(0xEF6015);
  // From the middle of a page over four more: the first chunk (0x1080) and the page at 0x1200 are
  // all 0xFF, the page at 0x1100 holds one other byte at its very end, the page at 0x1300 and
  // the last chunk (0x1400) hold data.
  constexpr uint32_t kStart = 0x1080;
  std::vector<uint8_t> data(0x80 + 4 * 0x100 - 0x10, 0xFF);
  const std::vector<uint8_t> tail = pattern(0x100 - 0x10, 3);
  data[0x80 + 0xFF] = 0x00;
  std::copy(tail.begin(), tail.end(), data.end() - static_cast<std::ptrdiff_t>(tail.size()));
  std::copy_n(pattern(0x100, 9).begin(), 0x100, data.begin() + 0x80 + 0x200);
  std::fill_n(bench.adapter.flash().begin() + kStart, data.size(), 0xFF);
  uint32_t done = 0;
  ASSERT_TRUE(bench.flash->write(kStart, data.data(), static_cast<uint32_t>(data.size()), done));
  EXPECT_EQ(done, data.size());
  EXPECT_EQ(bench.flashBytes(kStart, static_cast<uint32_t>(data.size())), data);
  EXPECT_EQ(bench.adapter.stats().modifyingTransfers, 3u);
  std::vector<uint32_t> addresses;
  for (const test::RegisterAccess& access : bench.recorder.accesses) {
    if (access.write && access.offset == reg::kFlashAddress) addresses.push_back(access.value);
  }
  EXPECT_EQ(addresses, (std::vector<uint32_t>{0x1100, 0x1300, 0x1400}));
  EXPECT_EQ(bench.adapter.violations(), 0u);
}

TEST(ProgramSequence, AWriteOfErasedBytesAloneProgramsNothingAndSucceeds) {
  Bench bench(0xEF6015);
  const std::vector<uint8_t> erased(0x300, 0xFF);
  uint32_t done = 0;
  ASSERT_TRUE(bench.flash->write(0x2010, erased.data(), 0x300, done));
  EXPECT_EQ(done, 0x300u);
  EXPECT_EQ(bench.adapter.stats().modifyingTransfers, 0u);
  EXPECT_TRUE(bench.recorder.commandsOtherThan(0x05).empty());
}

TEST(ProgramSequence, ReadyBitPartsTakeNoWriteEnable) {
  Bench bench(0x1F2400);
  const std::vector<uint8_t> data = pattern(6, 3);
  uint32_t done = 0;
  ASSERT_TRUE(bench.flash->write(0x40, data.data(), 6, done));
  EXPECT_EQ(bench.recorder.commandsOtherThan(0xD7), (std::vector<uint8_t>{0x02, 0x02}));
  EXPECT_EQ(bench.adapter.violations(), 0u);
}

TEST(ProgramSequence, ZeroLengthOnlyWaitsForThePart) {
  Bench bench(0xEF6015);
  uint32_t done = 99;
  ASSERT_TRUE(bench.flash->write(0, nullptr, 0, done));
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(bench.recorder.commandsOtherThan(0x05).empty());
  EXPECT_EQ(bench.adapter.stats().modifyingTransfers, 0u);
}

TEST(ReadSequence, ZeroLengthTouchesNoRegister) {
  Bench bench(0xEF6015);
  uint32_t done = 99;
  ASSERT_TRUE(bench.flash->read(0, nullptr, 0, done));
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(bench.recorder.accesses.empty());
}

TEST(EraseSequence, StandardPartsClearProtectionTwiceThenEnableWritingBeforeTheErase) {
  Bench bench(0xEF6015, /*protectedAtPowerOn=*/true);
  std::fill_n(bench.adapter.flash().begin() + 0x3000, 0x1000, 0x00);
  ASSERT_TRUE(bench.flash->eraseSector(0x3000));
  EXPECT_EQ(bench.recorder.commandsOtherThan(0x05),
            (std::vector<uint8_t>{0x06, 0x01, 0x06, 0x01, 0x06, 0x20}));
  // The status written is 0: the protection bits cleared.
  for (std::size_t i = 0; i < bench.recorder.accesses.size(); ++i) {
    const test::RegisterAccess& access = bench.recorder.accesses[i];
    if (access.write && access.offset == reg::kFlashCommand && access.value == 0x8001) {
      const test::RegisterAccess& address = bench.recorder.accesses[i - 1];
      EXPECT_EQ(address.offset, reg::kFlashAddress);
      EXPECT_EQ(address.value & 0xFF, 0u);
    }
  }
  EXPECT_EQ(bench.flashBytes(0x3000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
  EXPECT_EQ(bench.flashBytes(0x2FFF, 1), std::vector<uint8_t>{0xFF});
  EXPECT_EQ(bench.adapter.stats().erases4k, 1u);
  EXPECT_EQ(bench.adapter.violations(), 0u);
}

// Before an erase the status is read once, to see whether its protection bits need writing;
// after that a status read follows only a command that makes the part busy (a status write or
// the erase): a write enable is followed by the write status or the erase without one.
TEST(EraseSequence, ReadsTheStatusOnceBeforeAndThenOnlyAfterCommandsThatMakeThePartBusy) {
  for (const bool locked : {false, true}) {
    SCOPED_TRACE(locked ? "protected" : "unprotected");
    Bench bench(0xEF6015, locked);
    ASSERT_TRUE(bench.flash->eraseBlock(0x10000));
    const std::vector<uint8_t> opcodes = bench.recorder.startedOpcodes();
    ASSERT_GE(opcodes.size(), 2u);
    EXPECT_EQ(opcodes[0], 0x05) << "the status read before the first write enable";
    EXPECT_EQ(opcodes[1], 0x06);
    uint8_t previous = 0x06;
    for (std::size_t i = 1; i < opcodes.size(); ++i) {
      if (opcodes[i] == 0x05) {
        EXPECT_TRUE(previous == 0x01 || previous == 0xD8)
            << "status read after 0x" << std::hex << unsigned{previous};
      } else {
        previous = opcodes[i];
      }
    }
    EXPECT_EQ(bench.adapter.stats().erases64k, 1u);
  }
}

struct StatusWriteCase {
  const char* name;
  sim::AdapterConfig config;
  // Commands other than status reads of the first erase, and of a second one.
  std::vector<uint8_t> first;
  std::vector<uint8_t> second;
  std::function<void(Bench&)> before = nullptr;  // done to the part before the first erase
};

void PrintTo(const StatusWriteCase& c, std::ostream* os) {
  *os << c.name;
}

sim::AdapterConfig partConfig(uint32_t jedecId, bool locked, bool sfdp = false,
                              bool volatileStatus = false, bool flagStatus = false) {
  sim::AdapterConfig config;
  config.jedecId = jedecId;
  config.protectedAtPowerOn = locked;
  config.sfdp = sfdp;
  config.volatileStatusWriteEnable = volatileStatus;
  config.flagStatusRegister = flagStatus;
  return config;
}

const std::vector<uint8_t> kEraseOnly = {0x06, 0x20};
const std::vector<uint8_t> kStatusWrittenTwice = {0x06, 0x01, 0x06, 0x01, 0x06, 0x20};

// A status write is a non-volatile write of milliseconds that wears the register: it is sent only
// when the status does not already read the value it writes (busy and write enable latch
// aside). A protected part is still unprotected, and a part whose status cannot be read where
// its busy bit is polled takes the writes as before.
const StatusWriteCase kStatusWriteCases[] = {
    {"UnprotectedPart", partConfig(0xEF6015, false), kEraseOnly, kEraseOnly},
    {"ProtectedPartIsUnprotectedOnce", partConfig(0xEF6015, true), kStatusWrittenTwice,
     kEraseOnly},
    {"WriteEnableLatchAlreadySet", partConfig(0xEF6015, false), kEraseOnly, kEraseOnly,
     [](Bench& b) {
       b.adapter.write32(reg::kFlashFormat, 0);
       b.adapter.write32(reg::kFlashCommand, 0x8006);
       b.adapter.clock().advance(10000);
     }},
    {"ProtectedPartOfAnotherSize", partConfig(0xC22016, true), kStatusWrittenTwice, kEraseOnly},
    {"UnprotectedSfdpPartWithVolatileStatusWrites", partConfig(0xEF7016, false, true, true),
     kEraseOnly, kEraseOnly},
    {"ProtectedSfdpPartWithVolatileStatusWrites", partConfig(0xEF7016, true, true, true),
     {0x50, 0x01, 0x50, 0x01, 0x06, 0x20}, kEraseOnly},
    // Busy is polled in the flag status register: the status register is never read.
    {"FlagStatusPart", partConfig(0xEF7016, false, true, false, true), kStatusWrittenTwice,
     kStatusWrittenTwice},
    {"ProtectedFlagStatusPart", partConfig(0xEF7016, true, true, false, true),
     kStatusWrittenTwice, kStatusWrittenTwice},
};

class StatusWrites : public testing::TestWithParam<StatusWriteCase> {};

TEST_P(StatusWrites, AreSentOnlyWhenTheStatusDoesNotReadAsWritten) {
  const StatusWriteCase& c = GetParam();
  Bench bench(c.config);
  ASSERT_TRUE(bench.flash->initialized());
  const uint8_t statusOpcode = bench.statusOpcode();
  std::fill_n(bench.adapter.flash().begin() + 0x3000, 0x2000, 0x00);
  if (c.before) c.before(bench);
  bench.recorder.accesses.clear();
  ASSERT_TRUE(bench.flash->eraseSector(0x3000));
  EXPECT_EQ(bench.recorder.commandsOtherThan(statusOpcode), c.first);
  EXPECT_FALSE(bench.adapter.part().locked()) << "unprotected for the erase";
  bench.recorder.accesses.clear();
  ASSERT_TRUE(bench.flash->eraseSector(0x4000));
  EXPECT_EQ(bench.recorder.commandsOtherThan(statusOpcode), c.second);
  EXPECT_EQ(bench.flashBytes(0x3000, 0x2000), std::vector<uint8_t>(0x2000, 0xFF));
  EXPECT_EQ(bench.adapter.stats().erases4k, 2u);
  // The teardown asserts no violation.
}

INSTANTIATE_TEST_SUITE_P(EraseSequence, StatusWrites, testing::ValuesIn(kStatusWriteCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A program may be the first command of a session that writes (a control block whose state bits
// are cleared in place, before any erase): a part still protected would ignore it without a word,
// so the status the part reports ready with, before each page, is looked at too and a protected
// part unprotected first. An unprotected part is programmed as before, without a status write.
struct ProgramStatusCase {
  const char* name;
  sim::AdapterConfig config;
  std::vector<uint8_t> first;   // commands other than status reads of the first program
  std::vector<uint8_t> second;  // and of a second one
};

void PrintTo(const ProgramStatusCase& c, std::ostream* os) {
  *os << c.name;
}

const std::vector<uint8_t> kProgramOnly = {0x06, 0x02};
const ProgramStatusCase kProgramStatusCases[] = {
    {"UnprotectedPart", partConfig(0xEF6015, false), kProgramOnly, kProgramOnly},
    {"ProtectedPart", partConfig(0xEF6015, true), {0x06, 0x01, 0x06, 0x01, 0x06, 0x02},
     kProgramOnly},
    {"ProtectedSfdpPartWithVolatileStatusWrites", partConfig(0xEF7016, true, true, true),
     {0x50, 0x01, 0x50, 0x01, 0x06, 0x02}, kProgramOnly},
};

class ProgramStatusWrites : public testing::TestWithParam<ProgramStatusCase> {};

TEST_P(ProgramStatusWrites, AProtectedPartIsUnprotectedBeforeItsFirstProgram) {
  const ProgramStatusCase& c = GetParam();
  Bench bench(c.config);
  const uint8_t statusOpcode = bench.statusOpcode();
  const std::vector<uint8_t> data = pattern(4, 3);  // one word: one program command
  uint32_t written = 0;
  ASSERT_TRUE(bench.flash->write(0x3000, data.data(), 4, written));
  EXPECT_EQ(bench.recorder.commandsOtherThan(statusOpcode), c.first);
  EXPECT_FALSE(bench.adapter.part().locked());
  bench.recorder.accesses.clear();
  ASSERT_TRUE(bench.flash->write(0x3100, data.data(), 4, written));
  EXPECT_EQ(bench.recorder.commandsOtherThan(statusOpcode), c.second);
  EXPECT_EQ(bench.flashBytes(0x3000, 4), data);
  EXPECT_EQ(bench.flashBytes(0x3100, 4), data);
  // The teardown asserts no violation: no program reached a protected part.
}

INSTANTIATE_TEST_SUITE_P(ProgramSequence, ProgramStatusWrites,
                         testing::ValuesIn(kProgramStatusCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A status read that fails tells nothing of the protection: the status is written as before.
TEST(EraseSequence, AStatusThatCannotBeReadIsWrittenAsBefore) {
  Bench bench(0xEF6015, /*protectedAtPowerOn=*/true);
  std::fill_n(bench.adapter.flash().begin() + 0x3000, 0x1000, 0x00);
  // The engine hangs on the first status read for as long as the poll waits for it.
  bench.recorder.afterAccess = [&bench, stuckAt = std::size_t{0}]() mutable {
    const std::vector<test::RegisterAccess>& accesses = bench.recorder.accesses;
    const test::RegisterAccess& last = accesses.back();
    if (stuckAt == 0 && last.write && last.offset == reg::kFlashCommand && last.value == 0x8005) {
      stuckAt = accesses.size();
      bench.adapter.setEngineStuck(true);
    } else if (stuckAt != 0 && accesses.size() == stuckAt + kEnginePollLimit) {
      bench.adapter.setEngineStuck(false);
    }
  };
  ASSERT_TRUE(bench.flash->eraseSector(0x3000));
  EXPECT_EQ(bench.recorder.commandsOtherThan(0x05), kStatusWrittenTwice);
  EXPECT_FALSE(bench.adapter.part().locked());
  EXPECT_EQ(bench.flashBytes(0x3000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
}

TEST(ReadSequence, AnSfdpPartIsNotAskedForItsParametersAgainOnEveryRead) {
  sim::AdapterConfig config;
  config.jedecId = 0xEF7016;
  config.sfdp = true;
  Bench bench(config);
  ASSERT_EQ(bench.flash->flashType(), kFlashPartSfdp);
  std::vector<uint8_t> buffer(8);
  uint32_t done = 0;
  for (int read = 0; read < 3; ++read)
    ASSERT_TRUE(bench.flash->read(0x100 * read, buffer.data(), 8, done));
  const std::vector<uint8_t> opcodes = bench.recorder.startedOpcodes();
  EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), 0x5A), 0);
  EXPECT_EQ(std::count(opcodes.begin(), opcodes.end(), 0x03), 6);
}

struct SplitUnitCase {
  const char* name;
  uint32_t jedecId;
  uint32_t secondHalf;  // eight pages
};

void PrintTo(const SplitUnitCase& c, std::ostream* os) {
  *os << c.name;
}

class SplitFirstUnit : public testing::TestWithParam<SplitUnitCase> {};

TEST_P(SplitFirstUnit, ErasingTheFirstBlockErasesBothHalves) {
  const SplitUnitCase& c = GetParam();
  Bench bench(c.jedecId);
  std::fill_n(bench.adapter.flash().begin(), 0x20000, 0x00);
  ASSERT_TRUE(bench.flash->eraseBlock(0));
  EXPECT_EQ(bench.recorder.commandsOtherThan(0xD7), (std::vector<uint8_t>{0x7C, 0x7C}));
  EXPECT_EQ(bench.adapter.stats().modifyingTransfers, 2u);
  EXPECT_EQ(bench.flashBytes(0, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
  EXPECT_EQ(bench.flashBytes(0x10000, 1), std::vector<uint8_t>{0x00});

  // Any other block is one unit.
  bench.recorder.accesses.clear();
  ASSERT_TRUE(bench.flash->eraseBlock(0x10000));
  EXPECT_EQ(bench.recorder.commandsOtherThan(0xD7), std::vector<uint8_t>{0x7C});
  EXPECT_EQ(bench.flashBytes(0x10000, 0x10000), std::vector<uint8_t>(0x10000, 0xFF));
  EXPECT_EQ(bench.adapter.violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(ReadyBitParts, SplitFirstUnit,
                         testing::Values(SplitUnitCase{"Type1", 0x1F2400, 0x800},
                                         SplitUnitCase{"Type9", 0x1F2701, 0x1000}),
                         [](const auto& info) { return std::string(info.param.name); });

// Erases the unit at `address` when the part has an erase, programs `data` there (three
// pages from an odd offset) and reads it back: the whole job of the flash layer.
void eraseProgramAndReadBack(Bench& bench, uint32_t address, const std::vector<uint8_t>& data) {
  VoApiFlashControl& flash = *bench.flash;
  if (flash.sectorSize != 0) {
    ASSERT_TRUE(flash.eraseSector(address));
  } else if (flash.blockEraseSupported) {
    ASSERT_TRUE(flash.eraseBlock(address));
  }
  uint32_t done = 0;
  ASSERT_TRUE(flash.write(address + 3, data.data(), static_cast<uint32_t>(data.size()), done));
  EXPECT_EQ(done, data.size());
  std::vector<uint8_t> back(data.size());
  ASSERT_TRUE(flash.read(address + 3, back.data(), static_cast<uint32_t>(back.size()), done));
  EXPECT_EQ(back, data);
  EXPECT_EQ(bench.flashBytes(address + 3, static_cast<uint32_t>(data.size())), data);
}

struct TablePart {
  const char* name;
  uint32_t jedecId;
  bool sfdp = false;
  bool volatileStatus = false;
  bool locked = false;
  bool flagStatus = false;
};

void PrintTo(const TablePart& c, std::ostream* os) {
  *os << c.name;
}

// Every part the emulated adapter carries, and the protection and SFDP variants the flash layer
// has to unlock or to read its parameters from.
const TablePart kTableParts[] = {
    {"ShortId651F", sim::kShortIdPart},
    {"Type1_1F2400", 0x1F2400},
    {"Type2_1F240001", 0x1F240001},
    {"Type3_202010", 0x202010},
    {"Type4_1F4301", 0x1F4301},
    {"Type5_1F4401", 0x1F4401},
    {"Type6_202013", 0x202013},
    {"Type7_C22013", 0xC22013},
    {"Type8_C22313", 0xC22313},
    {"Type9_1F2701", 0x1F2701},
    {"Type10_C22016", 0xC22016},
    {"Type11_EF4016", 0xEF4016},
    {"Type12_EF6015", 0xEF6015},
    {"Type13_EF3013", 0xEF3013},
    {"Type14_014016", 0x014016},
    {"Sfdp16_EF7016", 0xEF7016, true},
    {"Sfdp16VolatileStatus", 0xEF7016, true, true},
    {"Type12Locked", 0xEF6015, false, false, true},
    {"Sfdp16VolatileStatusLocked", 0xEF7016, true, true, true},
    {"Sfdp16FlagStatusLocked", 0xEF7016, true, false, true, true},
};

class EveryPart : public testing::TestWithParam<TablePart> {};

TEST_P(EveryPart, ErasesProgramsAndReadsWithoutAnyViolation) {
  const TablePart& c = GetParam();
  sim::AdapterConfig config;
  config.jedecId = c.jedecId;
  config.sfdp = c.sfdp;
  config.volatileStatusWriteEnable = c.volatileStatus;
  config.protectedAtPowerOn = c.locked;
  config.flagStatusRegister = c.flagStatus;
  config.timings = sim::quickTimings();
  Bench bench(config);
  ASSERT_TRUE(bench.flash->initialized());
  const uint32_t unit = bench.flash->sectorSize != 0 ? bench.flash->sectorSize
                                                     : bench.flash->blockSize;
  const uint32_t address = unit != 0 ? 2 * unit : 0x8000;
  eraseProgramAndReadBack(bench, address, pattern(3 * bench.flash->pageSize - 5, 0x21));
  // The teardown asserts no violation and no unclaimed access.
}

INSTANTIATE_TEST_SUITE_P(Table, EveryPart, testing::ValuesIn(kTableParts),
                         [](const auto& info) { return std::string(info.param.name); });

struct EngineBusyCase {
  const char* name;
  uint64_t busyUs;
  uint64_t jitterUs;
};

void PrintTo(const EngineBusyCase& c, std::ostream* os) {
  *os << c.name;
}

// The flash layer polls the busy bit at most 21 times: a word busy for 20 reads still ends in
// time, with any jitter that stays below that.
const EngineBusyCase kEngineBusyCases[] = {
    {"OneRead", 1, 0},
    {"SeveralReads", 3, 0},
    {"JustUnderThePollLimit", 20, 0},
    {"JitteredUpToThePollLimit", 2, 18},
};

class EngineBusyTime : public testing::TestWithParam<std::tuple<EngineBusyCase, Part>> {};

TEST_P(EngineBusyTime, SequencesWaitForEveryWord) {
  const auto& [busy, part] = GetParam();
  sim::AdapterConfig config;
  config.jedecId = part.jedecId;
  config.timings = sim::quickTimings();
  config.timings.engineTransferNs = busy.busyUs * 1000;
  config.timings.engineJitterNs = busy.jitterUs * 1000;
  config.timings.engineJitterSeed = 3;
  Bench bench(config);
  ASSERT_TRUE(bench.flash->initialized());
  const uint32_t unit =
      bench.flash->sectorSize != 0 ? bench.flash->sectorSize : bench.flash->blockSize;
  eraseProgramAndReadBack(bench, unit != 0 ? unit : 0x4000,
                          pattern(2 * bench.flash->pageSize + 9, 0x33));
}

INSTANTIATE_TEST_SUITE_P(Polls, EngineBusyTime,
                         testing::Combine(testing::ValuesIn(kEngineBusyCases),
                                          testing::ValuesIn(kParts)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::get<1>(info.param).name;
                         });

TEST(EngineBusyTime, AWordBusyForTheWholePollFailsEverySequenceAndChangesNothing) {
  constexpr uint64_t kAtThePollLimitNs = 21000;  // 21 busy reads
  {
    sim::VirtualClock clock;
    sim::AdapterConfig config;
    config.timings.engineTransferNs = kAtThePollLimitNs;
    sim::EmulatedAdapter adapter(config, clock);
    {
      VoApiFlashControl flash(&adapter);
      EXPECT_FALSE(flash.init()) << "identification gives up";
      EXPECT_EQ(flash.flashType(), kFlashPartUnknown);
    }
    test::expectCleanRegisterTraffic(adapter, "identification at the poll limit");
  }
  Bench bench(0xEF6015);
  std::fill_n(bench.adapter.flash().begin(), 0x2000, 0x00);
  bench.adapter.engine().setTransferTime(kAtThePollLimitNs);
  std::vector<uint8_t> buffer(64, 0xEE);
  uint32_t done = 99;
  EXPECT_FALSE(bench.flash->read(0x100, buffer.data(), 64, done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(buffer, std::vector<uint8_t>(64, 0xEE));
  const std::vector<uint8_t> data = pattern(64, 1);
  EXPECT_FALSE(bench.flash->write(0x1000, data.data(), 64, done));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(bench.flash->eraseSector(0x1000));
  EXPECT_EQ(bench.adapter.stats().modifyingTransfers, 0u);
  EXPECT_EQ(bench.flashBytes(0, 0x2000), std::vector<uint8_t>(0x2000, 0x00));
}

// Faults: each must end in a failure, never in a success that left the flash wrong.

TEST(Faults, PowerCutInTheMiddleOfAWriteFailsAndKeepsWhatWasProgrammed) {
  Bench bench(0xEF6015);
  bench.adapter.cutPowerAfter(1);
  const std::vector<uint8_t> data = pattern(600, 9);
  uint32_t done = 0;
  EXPECT_FALSE(bench.flash->write(0x1000, data.data(), 600, done));
  EXPECT_EQ(done, 0u);
  EXPECT_TRUE(bench.adapter.poweredOff());
  EXPECT_EQ(bench.flashBytes(0x1000, 256), std::vector<uint8_t>(data.begin(), data.begin() + 256));
  EXPECT_EQ(bench.flashBytes(0x1100, 256), std::vector<uint8_t>(256, 0xFF));
  EXPECT_EQ(bench.adapter.stats().modifyingTransfers, 1u);
}

TEST(Faults, EraseFailsWhenTheAdapterLosesPowerRightAfterTheCommand) {
  Bench bench(0xEF6015);
  std::fill_n(bench.adapter.flash().begin(), 0x20000, 0x00);
  bench.adapter.cutPowerAfter(1);
  EXPECT_FALSE(bench.flash->eraseSector(0x2000));
  EXPECT_FALSE(bench.flash->eraseBlock(0x10000));
  // The first erase reached the part before the power went; the second never did.
  EXPECT_EQ(bench.flashBytes(0x2000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
  EXPECT_EQ(bench.flashBytes(0x1FFF, 1), std::vector<uint8_t>{0x00});
  EXPECT_EQ(bench.flashBytes(0x3000, 1), std::vector<uint8_t>{0x00});
  EXPECT_EQ(bench.flashBytes(0x10000, 0x10000), std::vector<uint8_t>(0x10000, 0x00));
}

TEST(Faults, StuckEngineFailsIdentificationAfterABoundedPoll) {
  sim::VirtualClock clock;
  sim::AdapterConfig config;
  config.engineStuck = true;
  sim::EmulatedAdapter adapter(config, clock);
  VoApiFlashControl flash(&adapter);
  EXPECT_FALSE(flash.init());
  EXPECT_EQ(flash.flashType(), kFlashPartUnknown);
  EXPECT_LE(adapter.stats().regReads, 4u + 21u);
}

TEST(Faults, StuckPartEndsReadsAndWritesWithAStatusTimeout) {
  Bench bench(0xEF6015);
  // The erase sends its first write enable before it waits for the part.
  bench.provoked = {sim::Violation::kCommandWhilePartBusy};
  std::fill_n(bench.adapter.flash().begin(), 0x2000, 0x00);
  bench.adapter.setPartStuck(true);
  std::vector<uint8_t> buffer(16, 0xEE);
  uint32_t done = 0;
  const uint64_t before = bench.clock.now();
  EXPECT_FALSE(bench.flash->read(0, buffer.data(), 16, done));
  EXPECT_EQ(done, 0u);
  // Ten units of 78125 counted accesses: each status pass counts 4 plus its busy reads and
  // takes a command write, a read per busy microsecond, the idle read and the data read.
  const uint64_t busyReads = sim::AdapterTimings{}.engineTransferNs / 1000;
  const uint64_t passNs = 250 + (busyReads + 2) * 1000;
  const uint64_t expectedMs = 10 * 78125 / (4 + busyReads) * passNs / 1000000;
  const uint64_t elapsedMs = (bench.clock.now() - before) / 1000000;
  EXPECT_GT(elapsedMs, expectedMs * 9 / 10);
  EXPECT_LT(elapsedMs, expectedMs * 11 / 10);
  EXPECT_FALSE(bench.flash->write(0, buffer.data(), 16, done));
  EXPECT_FALSE(bench.flash->eraseSector(0));
  EXPECT_EQ(bench.adapter.stats().modifyingTransfers, 0u);
  EXPECT_EQ(bench.flashBytes(0, 0x2000), std::vector<uint8_t>(0x2000, 0x00));
  EXPECT_EQ(buffer, std::vector<uint8_t>(16, 0xEE)) << "nothing read";
}

TEST(Faults, StatusTimeoutOfZeroAllowsOneStatusRead) {
  Bench bench(0xEF6015);
  bench.adapter.setPartStuck(true);
  FlashParams params = bench.flash->params();
  params.statusTimeout = 0;
  EXPECT_EQ(waitReady(FlashHwContext{}, params), FLASH_STATUS_TIMEOUT);
  EXPECT_EQ(bench.recorder.startedOpcodes(), std::vector<uint8_t>{0x05});
}

// The engine goes busy for good right after the n-th word started with this command word (the
// phase of the sequence a fault hits, whatever the chunking around it).
void jamEngineAtWord(Bench& bench, uint32_t commandWord, int n) {
  bench.recorder.afterAccess = [&bench, commandWord, n, seen = 0]() mutable {
    const test::RegisterAccess& last = bench.recorder.accesses.back();
    if (last.write && last.offset == reg::kFlashCommand && last.value == commandWord &&
        ++seen == n) {
      bench.adapter.setEngineStuck(true);
    }
  };
}

// An engine that stays busy in the middle of a keep-open word cannot be told to release chip
// select; closing the interface does it.
const std::vector<sim::Violation> kStuckEngineEffects = {
    sim::Violation::kTransferWhileEngineBusy, sim::Violation::kRegisterWriteWhileEngineBusy,
    sim::Violation::kChipSelectHeldAtClose};

TEST(Faults, EngineStuckInTheMiddleOfAReadFailsTheRead) {
  Bench bench(0xEF6015);
  bench.provoked = kStuckEngineEffects;
  std::copy_n(pattern(64, 3).begin(), 64, bench.adapter.flash().begin());
  // The third continued word of a 64-byte read never ends.
  jamEngineAtWord(bench, bench.flash->params().readContinueCommand, 3);
  std::vector<uint8_t> buffer(64, 0xEE);
  uint32_t done = 0;
  EXPECT_FALSE(bench.flash->read(0, buffer.data(), 64, done));
  EXPECT_EQ(done, 8u) << "the two words that ended";
  EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 8), pattern(8, 3));
  EXPECT_EQ(bench.flashBytes(0, 64), pattern(64, 3));
}

TEST(Faults, EngineStuckInTheMiddleOfAProgramFailsTheWrite) {
  Bench bench(0xEF6015);
  bench.provoked = kStuckEngineEffects;
  // The third continued word of the first page's program never ends.
  jamEngineAtWord(bench, bench.flash->params().programContinueCommand, 3);
  const std::vector<uint8_t> data = pattern(64, 5);
  uint32_t done = 0;
  EXPECT_FALSE(bench.flash->write(0, data.data(), 64, done));
  EXPECT_EQ(done, 0u);
  bench.flash.reset();
  // Closing the interface released chip select after the first twelve bytes: the part may have
  // programmed those, and nothing else.
  const std::vector<uint8_t> head = bench.flashBytes(0, 12);
  EXPECT_TRUE(head == std::vector<uint8_t>(data.begin(), data.begin() + 12) ||
              head == std::vector<uint8_t>(12, 0xFF));
  EXPECT_EQ(bench.flashBytes(12, 0x1000 - 12), std::vector<uint8_t>(0x1000 - 12, 0xFF));
}

TEST(Faults, EngineStuckAfterTheEraseCommandFailsTheErase) {
  Bench bench(0xEF6015);
  bench.provoked = kStuckEngineEffects;
  std::fill_n(bench.adapter.flash().begin(), 0x3000, 0x00);
  bench.recorder.afterAccess = [&bench] {
    const test::RegisterAccess& last = bench.recorder.accesses.back();
    if (last.write && last.offset == reg::kFlashCommand && last.value == 0x8020) {
      bench.adapter.setEngineStuck(true);
    }
  };
  EXPECT_FALSE(bench.flash->eraseSector(0x1000));
  // The erase command itself went out.
  EXPECT_EQ(bench.flashBytes(0x1000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
  EXPECT_EQ(bench.flashBytes(0, 0x1000), std::vector<uint8_t>(0x1000, 0x00));
  EXPECT_EQ(bench.flashBytes(0x2000, 0x1000), std::vector<uint8_t>(0x1000, 0x00));
}

}  // namespace
}  // namespace hlv
