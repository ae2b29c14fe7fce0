#include "bench/flashrom_comparison.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <limits>
#include <vector>

#include "bench/child_process.h"
#include "bench/thread_cpu.h"
#include "engine/flash_access.h"
#include "engine/flash_verify.h"
#include "flashctl/voapiflashcontrol.h"
#include "sim/emulated_adapter.h"
#include "tools/hlvimage/image_builder.h"

namespace hlv::bench {
namespace {

constexpr double kMib = 1024.0 * 1024.0;
constexpr int kRepeats = 5;  // the cheapest of these is taken: other work only adds time
constexpr uint32_t kOwnPartId = 0xC22016;  // 4 MiB, 256-byte pages, 64 KiB blocks

double perMib(uint64_t ns) {
  return static_cast<double>(ns) / (kComparedPartBytes / kMib);
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

bool measureOwnFlashJobs(FlashJobCosts& costs) {
  uint64_t read = std::numeric_limits<uint64_t>::max();
  uint64_t eraseWrite = read;
  uint64_t verify = read;
  const std::vector<uint8_t> previous = image::fillerBytes(kComparedPartBytes, 1);
  const std::vector<uint8_t> next = image::fillerBytes(kComparedPartBytes, 2);
  for (int round = 0; round < kRepeats; ++round) {
    sim::VirtualClock clock;
    sim::AdapterConfig config;
    config.jedecId = kOwnPartId;
    std::vector<uint8_t> storage = previous;
    sim::EmulatedAdapter adapter(config, clock, storage);
    VoApiFlashControl flash(&adapter);
    if (!flash.init() || flash.flashSize != kComparedPartBytes) return false;
    std::vector<uint8_t> buffer(kComparedPartBytes);

    uint64_t start = threadCpuNanoseconds();
    if (readFlash(flash, 0, buffer.data(), kComparedPartBytes) != kStatusSuccess) return false;
    read = std::min(read, threadCpuNanoseconds() - start);

    start = threadCpuNanoseconds();
    uint32_t alignedStart = 0;
    uint32_t erased = 0;
    if (eraseRange(flash, 0, kComparedPartBytes, alignedStart, erased) != kStatusSuccess ||
        writeFlash(flash, 0, next.data(), kComparedPartBytes) != kStatusSuccess) {
      return false;
    }
    eraseWrite = std::min(eraseWrite, threadCpuNanoseconds() - start);

    start = threadCpuNanoseconds();
    if (verifyFlash(flash, 0, next) != kStatusSuccess) return false;
    verify = std::min(verify, threadCpuNanoseconds() - start);
    if (buffer != previous || adapter.violations() != 0) return false;
  }
  costs = {perMib(read), perMib(eraseWrite), perMib(verify)};
  return true;
}

bool measureFlashromJobs(const std::string& program, const std::string& workDirectory,
                         FlashJobCosts& costs) {
  const std::string chip = workDirectory + "/chip.bin";
  const std::string previous = workDirectory + "/previous.bin";
  const std::string next = workDirectory + "/next.bin";
  const std::string copy = workDirectory + "/read.bin";
  if (!writeBytes(previous, image::fillerBytes(kComparedPartBytes, 1)) ||
      !writeBytes(next, image::fillerBytes(kComparedPartBytes, 2))) {
    return false;
  }
  const std::string programmer =
      std::string("dummy:emulate=") + kFlashromPart + ",image=" + chip;
  // The cheapest of a few runs of one command; the chip starts from `previous` each time.
  const auto cheapest = [&](std::vector<std::string> operation, uint64_t& ns) {
    ns = std::numeric_limits<uint64_t>::max();
    for (int round = 0; round < kRepeats; ++round) {
      if (!writeBytes(chip, image::fillerBytes(kComparedPartBytes, 1))) return false;
      std::vector<std::string> argv{program, "-p", programmer};
      argv.insert(argv.end(), operation.begin(), operation.end());
      const ChildCost cost = runChild(argv, "", workDirectory + "/flashrom.log");
      if (cost.status != 0) {
        std::fprintf(stderr, "hlvbench: flashrom failed (see %s/flashrom.log)\n",
                     workDirectory.c_str());
        return false;
      }
      ns = std::min(ns, cost.cpuNs);
    }
    return true;
  };
  // Every run starts by probing for the part; a run that only probes measures that, and it is
  // taken off. A write first reads the part to compare: a read is taken off it.
  uint64_t probe = 0, read = 0, write = 0, verify = 0;
  if (!cheapest({}, probe) || !cheapest({"-r", copy}, read) ||
      !cheapest({"-w", next, "-n"}, write) || !cheapest({"-v", previous}, verify)) {
    return false;
  }
  const auto above = [](uint64_t a, uint64_t b) { return a > b ? a - b : 0; };
  costs = {perMib(above(read, probe)), perMib(above(write, read)), perMib(above(verify, probe)),
           static_cast<double>(probe)};
  return true;
}

}  // namespace hlv::bench
