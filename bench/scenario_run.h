// One benchmark scenario run end to end (the tool on a fresh copy of its lab, once plain and
// measured, once recorded and replayed), the figures drawn from it, and the whole benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_lab.h"

namespace hlv::bench {

struct ScenarioFigures {
  bool ok = false;
  std::string failure;       // why not, when not ok
  uint64_t modelledNs = 0;   // the lab's virtual clock at the end of the run
  uint64_t boundNs = 0;      // what the flash and the firmware need at least (see bound())
  uint64_t statusWriteNs = 0;  // of the bound: the status writes the erase protocol makes
  uint64_t cpuNs = 0;        // the whole process, the cheapest of the plain runs
  uint64_t emulatorNs = 0;   // the replay of the same stream on the emulator alone
  uint64_t peakRssKib = 0;
  uint64_t bytesRead = 0;
  uint64_t bytesProgrammed = 0;
  uint64_t readWordAccesses = 0;
  uint64_t programWordAccesses = 0;
  uint64_t erases = 0;
  uint64_t pollsAfterErase = 0;
  uint64_t needlessPolls = 0;
  uint64_t pagePrograms = 0;
  uint64_t pageProgramsWithData = 0;
  // The emulator's counters for the whole run (every adapter's stats file, summed) and what the
  // register stream says of the status register: writes, and reads while one ran.
  uint64_t regReads = 0;
  uint64_t regWrites = 0;
  uint64_t transfers = 0;
  uint64_t commands = 0;
  uint64_t modifyingTransfers = 0;
  uint64_t statusWrites = 0;
  uint64_t pollsAfterStatusWrite = 0;
  uint64_t toolNs() const { return cpuNs > emulatorNs ? cpuNs - emulatorNs : 0; }
};

// Runs the tool with `toolArgs` and `stdinText` on copies of the lab at `templateRoot` (whose
// adapters carry the part `jedecId` answers for), in `workDirectory`; the run must end with
// `expectedStatus`.
ScenarioFigures runScenario(const std::string& templateRoot, uint32_t jedecId,
                            const std::string& workDirectory,
                            const std::vector<std::string>& toolArgs, const std::string& stdinText,
                            int expectedStatus, int repeats);

// The whole benchmark, printed on standard output; the exit status.
int runBenchmark(bool quick);

}  // namespace hlv::bench
