// The engine's flash access wrappers: erasing a range with the largest units that fit, reads
// retried once, writes not retried, nothing outside the part.
#include "engine/flash_access.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/engine/flash_doubles.h"

namespace hlv {
namespace {

using test::FlashCall;
using test::FlashDecorator;
using test::Geometry;
using test::NorMemoryFlash;
using Kind = test::FlashCall::Kind;

std::vector<FlashCall> units(Kind kind, uint32_t from, uint32_t to, uint32_t unit) {
  std::vector<FlashCall> calls;
  for (uint32_t address = from; address < to; address += unit)
    calls.push_back({kind, address, unit});
  return calls;
}

std::vector<FlashCall> operator+(std::vector<FlashCall> a, const std::vector<FlashCall>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Geometry k4kSectors64kBlocks{256, 0x1000, 0x10000, true, 0x200000};
const Geometry k4kSectorsNoBlocks{256, 0x1000, 0x10000, false, 0x200000};

TEST(EraseRange, ErasesWithTheLargestUnitsThatFit) {
  struct Case {
    const char* what;
    Geometry geometry;
    uint32_t start;
    uint32_t length;
    std::vector<FlashCall> calls;
    uint32_t alignedStart;
    uint32_t erasedBytes;
  };
  const Case cases[] = {
      {"bank A: blocks with sector head and tail", k4kSectors64kBlocks, 0x8000, 0xFC000,
       units(Kind::kEraseBlock, 0x10000, 0x100000, 0x10000) +
           units(Kind::kEraseSector, 0x8000, 0x10000, 0x1000) +
           units(Kind::kEraseSector, 0x100000, 0x104000, 0x1000),
       0x8000, 0xFC000},
      {"bank B", k4kSectors64kBlocks, 0x104000, 0xFC000,
       units(Kind::kEraseBlock, 0x110000, 0x200000, 0x10000) +
           units(Kind::kEraseSector, 0x104000, 0x110000, 0x1000),
       0x104000, 0xFC000},
      {"shorter than a block: sectors only", k4kSectors64kBlocks, 0x10000, 0x8000,
       units(Kind::kEraseSector, 0x10000, 0x18000, 0x1000), 0x10000, 0x8000},
      {"longer than a block but holding none whole", k4kSectors64kBlocks, 0x8000, 0x10800,
       units(Kind::kEraseSector, 0x8000, 0x19000, 0x1000), 0x8000, 0x11000},
      {"no block erase; the last sector whole", k4kSectorsNoBlocks, 0x1000, 0x1800,
       units(Kind::kEraseSector, 0x1000, 0x3000, 0x1000), 0x1000, 0x2000},
      {"unaligned start leaves the bytes before the next sector", k4kSectorsNoBlocks, 0x8800,
       0x2000, units(Kind::kEraseSector, 0x9000, 0xB000, 0x1000), 0x9000, 0x2000},
      {"one control block", k4kSectors64kBlocks, 0x4000, 0x4000,
       units(Kind::kEraseSector, 0x4000, 0x8000, 0x1000), 0x4000, 0x4000},
      {"512-byte pages", Geometry{512, 0x1000, 0x10000, true, 0x400000}, 0x104000, 0xFC000,
       units(Kind::kEraseBlock, 0x110000, 0x200000, 0x10000) +
           units(Kind::kEraseSector, 0x104000, 0x110000, 0x1000),
       0x104000, 0xFC000},
      {"2 KiB sectors of a 512 KiB part are refused",
       Geometry{256, 0x800, 0x10000, true, 0x80000},
       0x4000,
       0x4000,
       {},
       0x4000,
       0},
      {"part without an erase sector",
       Geometry{256, 0, 0x10000, true, 0x200000},
       0x8000,
       0xFC000,
       {},
       0x8000,
       0},
      {"range past the end of the part", k4kSectors64kBlocks, 0x1FF000, 0x2000, {}, 0x1FF000, 0},
      {"last sector would pass the end", k4kSectorsNoBlocks, 0x1FF000, 0x1001, {}, 0x1FF000, 0},
      {"empty range", k4kSectors64kBlocks, 0x8000, 0, {}, 0x8000, 0},
  };
  for (const Case& c : cases) {
    NorMemoryFlash part(c.geometry);
    FlashDecorator recorder(part);
    uint32_t alignedStart = 0xDEAD;
    uint32_t erasedBytes = 0xDEAD;
    const FlashUpdateStatus status =
        eraseRange(recorder, c.start, c.length, alignedStart, erasedBytes);
    const bool refused = c.calls.empty() && c.length != 0;
    EXPECT_EQ(status, refused ? kStatusFlashEraseFailed : kStatusSuccess) << c.what;
    EXPECT_EQ(recorder.calls, c.calls) << c.what;
    EXPECT_EQ(alignedStart, c.alignedStart) << c.what;
    EXPECT_EQ(erasedBytes, c.erasedBytes) << c.what;
  }
}

TEST(EraseRange, StopsAtTheFirstFailingUnit) {
  struct Case {
    const char* what;
    Kind kind;
    int failing;
    std::size_t callsMade;
    uint32_t erasedBytes;
  };
  const Case cases[] = {
      {"third block", Kind::kEraseBlock, 3, 3, 2 * 0x10000},
      {"first head sector", Kind::kEraseSector, 1, 16, 15 * 0x10000},
      {"first tail sector", Kind::kEraseSector, 9, 24, 15 * 0x10000 + 8 * 0x1000},
  };
  for (const Case& c : cases) {
    NorMemoryFlash part(k4kSectors64kBlocks);
    FlashDecorator recorder(part);
    recorder.failCalls(c.kind, c.failing);
    uint32_t alignedStart = 0;
    uint32_t erasedBytes = 0;
    EXPECT_EQ(eraseRange(recorder, 0x8000, 0xFC000, alignedStart, erasedBytes),
              kStatusFlashEraseFailed)
        << c.what;
    EXPECT_EQ(recorder.calls.size(), c.callsMade) << c.what;
    EXPECT_EQ(erasedBytes, c.erasedBytes) << c.what;
  }
}

// The same plans on emulated parts through the real flash layer: the part accepts every unit
// and exactly the range (plus the whole last sector) reads erased afterwards.
TEST(EraseRange, EmulatedPartsEraseExactlyThePlannedUnits) {
  struct Case {
    const char* what;
    uint32_t jedecId;
    uint32_t start;
    uint32_t length;
  };
  const Case cases[] = {
      {"2 MiB part, bank B", 0xEF6015, 0x104000, 0xFC000},
      {"2 MiB part, control block 1", 0xEF6015, 0x4000, 0x4000},
      {"512-byte-page part, bank A", 0x1F2700, 0x8000, 0xFC000},
      {"512-byte-page part, unaligned", 0x1F2700, 0x20800, 0x1800},
  };
  for (const Case& c : cases) {
    test::EmulatedFlash emulated(c.jedecId);
    std::vector<uint8_t> programmed(emulated.adapter.flash().size(), 0x00);
    emulated.load(programmed);
    uint32_t alignedStart = 0;
    uint32_t erasedBytes = 0;
    ASSERT_EQ(eraseRange(*emulated.flash, c.start, c.length, alignedStart, erasedBytes),
              kStatusSuccess)
        << c.what;
    const std::vector<uint8_t> after = emulated.contents();
    const uint32_t sector = emulated.flash->sectorSize;
    const uint32_t erasedEnd = (c.start + c.length + sector - 1) / sector * sector;
    for (uint32_t address = 0; address < after.size(); address += 0x100) {
      const bool inside = address >= alignedStart && address < erasedEnd;
      ASSERT_EQ(after[address], inside ? 0xFF : 0x00) << c.what << std::hex << " at " << address;
    }
    EXPECT_EQ(erasedBytes, erasedEnd - alignedStart) << c.what;
    EXPECT_EQ(emulated.violations(), 0u) << c.what;
  }
}

TEST(ReadFlash, RetriesOnceAndStaysInsideThePart) {
  NorMemoryFlash part(k4kSectors64kBlocks);
  part.contents[0x1FFFFF] = 0x5A;
  FlashDecorator recorder(part);
  std::vector<uint8_t> buffer(0x10);

  recorder.failCalls(Kind::kRead, 1);
  EXPECT_EQ(readFlash(recorder, 0x1FFFF0, buffer.data(), 0x10), kStatusSuccess);
  EXPECT_EQ(recorder.calls.size(), 2u) << "one failure, one retry";
  EXPECT_EQ(buffer[0xF], 0x5A);

  recorder.calls.clear();
  recorder.failCalls(Kind::kRead, 1, 2);
  EXPECT_EQ(readFlash(recorder, 0, buffer.data(), 0x10), kStatusFlashReadFailed);
  EXPECT_EQ(recorder.calls.size(), 2u) << "no third try";

  recorder.calls.clear();
  EXPECT_EQ(readFlash(recorder, 0x1FFFF1, buffer.data(), 0x10), kStatusFlashReadFailed);
  EXPECT_EQ(readFlash(recorder, 0xFFFFFFF0, buffer.data(), 0x20), kStatusFlashReadFailed)
      << "an end that wraps 32 bits";
  EXPECT_TRUE(recorder.calls.empty()) << "reads past the end never reach the part";
}

TEST(WriteFlash, DoesNotRetryAndStaysInsideThePart) {
  NorMemoryFlash part(k4kSectors64kBlocks);
  FlashDecorator recorder(part);
  const std::vector<uint8_t> data(0x10, 0x00);

  recorder.failCalls(Kind::kWrite, 1);
  EXPECT_EQ(writeFlash(recorder, 0x8000, data.data(), 0x10), kStatusFlashWriteFailed);
  EXPECT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(writeFlash(recorder, 0x1FFFF0, data.data(), 0x10), kStatusSuccess);
  EXPECT_EQ(part.contents[0x1FFFFF], 0x00);

  recorder.calls.clear();
  EXPECT_EQ(writeFlash(recorder, 0x1FFFF1, data.data(), 0x10), kStatusFlashWriteFailed);
  EXPECT_TRUE(recorder.calls.empty()) << "a write past the end would wrap onto the blocks";
}

}  // namespace
}  // namespace hlv
