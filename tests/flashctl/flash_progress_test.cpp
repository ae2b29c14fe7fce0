// The bytes the flash control reports to its observer while it works: as many as it read,
// programmed or erased, in steps small enough to show a long request moving, and none for work
// that failed.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "shared/flash_progress.h"
#include "flashctl/voapiflashcontrol.h"
#include "sim/emulated_adapter.h"

namespace hlv {
namespace {

struct Report {
  FlashOperation operation;
  uint32_t bytes;
  bool operator==(const Report&) const = default;
};

class Recorder : public FlashProgressObserver {
 public:
  void flashBytesDone(FlashOperation operation, uint32_t bytes) override {
    reports.push_back({operation, bytes});
  }
  std::vector<Report> reports;
};

struct ProgressCase {
  const char* what;
  uint32_t jedecId;
  std::function<bool(VoApiFlashControl&)> request;
  std::vector<Report> expected;
};

void PrintTo(const ProgressCase& c, std::ostream* os) {
  *os << c.what;
}

std::vector<Report> repeated(FlashOperation operation, uint32_t bytes, std::size_t times,
                             std::vector<Report> tail = {}) {
  std::vector<Report> reports(times, Report{operation, bytes});
  reports.insert(reports.end(), tail.begin(), tail.end());
  return reports;
}

bool readBytes(VoApiFlashControl& flash, uint32_t address, uint32_t length) {
  std::vector<uint8_t> buffer(length);
  uint32_t done = 0;
  return flash.read(address, buffer.data(), length, done) && done == length;
}

bool programBytes(VoApiFlashControl& flash, uint32_t address, uint32_t length) {
  std::vector<uint8_t> buffer(length, 0x5A);
  uint32_t done = 0;
  return flash.write(address, buffer.data(), length, done) && done == length;
}

constexpr auto kRead = FlashOperation::kRead;
constexpr auto kProgram = FlashOperation::kProgram;
constexpr auto kErase = FlashOperation::kErase;

const ProgressCase kCases[] = {
    {"a whole flash is read in 4 KiB steps", 0xEF6015,
     [](VoApiFlashControl& f) { return readBytes(f, 0, f.flashSize); }, repeated(kRead, 4096, 512)},
    {"a read of an odd length ends with what is left", 0xEF6015,
     [](VoApiFlashControl& f) { return readBytes(f, 0x123, 4096 + 4097); },
     repeated(kRead, 4096, 2, {{kRead, 1}})},
    {"a short read is one report",
     0xEF6015,
     [](VoApiFlashControl& f) { return readBytes(f, 0x10, 3); },
     {{kRead, 3}}},
    {"a program is reported page by page, the first from its address to the page end",
     0xEF6015,
     [](VoApiFlashControl& f) { return programBytes(f, 0x1080, 0x200); },
     {{kProgram, 0x80}, {kProgram, 0x100}, {kProgram, 0x80}}},
    {"512-byte pages",
     0x1F2700,
     [](VoApiFlashControl& f) { return programBytes(f, 0x0, 0x400); },
     {{kProgram, 0x200}, {kProgram, 0x200}}},
    {"a sector erase is its sector",
     0xEF6015,
     [](VoApiFlashControl& f) { return f.eraseSector(0x3000); },
     {{kErase, 0x1000}}},
    {"a block erase is its block",
     0xEF6015,
     [](VoApiFlashControl& f) { return f.eraseBlock(0x20000); },
     {{kErase, 0x10000}}},
    {"the split first unit of a ready-bit part is erased as one block",
     0x1F2700,
     [](VoApiFlashControl& f) { return f.eraseBlock(0); },
     {{kErase, 0x10000}}},
    {"a refused request reports nothing",
     0xEF6015,
     [](VoApiFlashControl& f) { return !f.eraseSector(0x1800) && !readBytes(f, f.flashSize, 4); },
     {}},
};

// An initialised flash control on an emulated adapter, its reports recorded.
struct ObservedFlash {
  explicit ObservedFlash(uint32_t jedecId) : adapter(configFor(jedecId), clock), flash(&adapter) {
    initialised = flash.init();
    flash.setProgressObserver(&recorder);
  }
  static sim::AdapterConfig configFor(uint32_t jedecId) {
    sim::AdapterConfig config;
    config.jedecId = jedecId;
    config.timings = sim::quickTimings();
    return config;
  }
  sim::VirtualClock clock;
  sim::EmulatedAdapter adapter;
  VoApiFlashControl flash;
  Recorder recorder;
  bool initialised = false;
};

class FlashProgress : public testing::TestWithParam<ProgressCase> {};

TEST_P(FlashProgress, ReportsTheBytesDone) {
  const ProgressCase& c = GetParam();
  ObservedFlash observed(c.jedecId);
  ASSERT_TRUE(observed.initialised);
  EXPECT_TRUE(c.request(observed.flash));
  EXPECT_EQ(observed.recorder.reports, c.expected);
  EXPECT_EQ(observed.adapter.violations(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Requests, FlashProgress, testing::ValuesIn(kCases));

TEST(FlashProgressFailure, WorkThatFailsIsNotReported) {
  for (const bool engineStuck : {true, false}) {
    SCOPED_TRACE(engineStuck ? "the command engine stays busy" : "the part stays busy");
    ObservedFlash observed(0xEF6015);
    ASSERT_TRUE(observed.initialised);
    if (engineStuck)
      observed.adapter.setEngineStuck(true);
    else
      observed.adapter.setPartStuck(true);
    EXPECT_FALSE(readBytes(observed.flash, 0, 0x10000));
    EXPECT_FALSE(programBytes(observed.flash, 0x1000, 0x100));
    EXPECT_FALSE(observed.flash.eraseSector(0x1000));
    EXPECT_EQ(observed.recorder.reports, std::vector<Report>{});
  }
}

}  // namespace
}  // namespace hlv
