#include "bench/scenario_run.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include "app/instance_lock.h"
#include "bench/child_process.h"
#include "bench/flashrom_comparison.h"
#include "sim/adapter_config.h"
#include "sim/flash_part_model.h"

namespace hlv::bench {
namespace {

namespace fs = std::filesystem;
using Values = std::map<std::string, uint64_t>;

constexpr int kExitInterrupted = 41;  // the operator quit at the adapter prompt

// `key = value` lines; values that are not numbers are left out.
Values readValues(const std::string& path) {
  Values values;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find(" = ");
    if (equals == std::string::npos) continue;
    try {
      values[line.substr(0, equals)] = std::stoull(line.substr(equals + 3));
    } catch (...) {
    }
  }
  return values;
}

// Every adapter's stats file of a lab, summed; the virtual clock (shared) as its largest value.
Values labStats(const std::string& root) {
  Values total;
  for (const fs::directory_entry& adapter : fs::directory_iterator(root + "/adapters")) {
    for (const auto& [key, value] : readValues(adapter.path().string() + "/stats")) {
      if (key == "virtual_us")
        total[key] = std::max(total[key], value);
      else
        total[key] += value;
    }
  }
  return total;
}

void copyLab(const std::string& from, const std::string& to) {
  fs::remove_all(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

// What the hardware needs at least for the work the run did, from the emulator's own timings:
// every erase the update made (its erase plan is fixed: an erase is never skipped), every page
// program that changes a bit, the status writes the run made (each takes the part's own time),
// the firmware's boots (an interface-1 reset that the tool holds down and drives does not boot)
// and the PHY's restarts of the reload, and for every word read (backup, version readout,
// read-back) its command write, overlapped by the engine's transfer, one status read that finds
// the engine idle and one data read.
uint64_t bound(const Values& stats, const Values& stream, uint32_t jedecId,
               uint64_t& statusWriteNs) {
  const sim::AdapterTimings t;
  sim::AdapterConfig part;
  part.jedecId = jedecId;
  const uint64_t readWordNs =
      std::max(t.registerWriteNs, t.engineTransferNs) + 2 * t.registerReadNs;
  statusWriteNs = stream.at("status_writes") *
                  t.writeStatusNs.value_or(sim::partModelFor(part).writeStatusNs);
  return stats.at("erases_4k") * t.sectorEraseNs + stats.at("erases_64k") * t.blockEraseNs +
         stream.at("page_programs_with_data") * t.pageProgramNs + statusWriteNs +
         stats.at("firmware_boots") * t.firmwareBootNs +
         stats.at("phy_restarts") * t.phyRestartNs + (stats.at("bytes_read") + 3) / 4 * readWordNs;
}

}  // namespace

ScenarioFigures runScenario(const std::string& templateRoot, uint32_t jedecId,
                            const std::string& workDirectory,
                            const std::vector<std::string>& toolArgs, const std::string& stdinText,
                            int expectedStatus, int repeats) {
  ScenarioFigures figures;
  const std::string run = workDirectory + "/run";
  const std::string output = workDirectory + "/output.txt";
  figures.cpuNs = std::numeric_limits<uint64_t>::max();
  Values stats;
  for (int round = 0; round < repeats; ++round) {
    copyLab(templateRoot, run);
    std::vector<std::string> argv{selfDirectory() + "/hlvsim", "run", run, "--"};
    argv.insert(argv.end(), toolArgs.begin(), toolArgs.end());
    const ChildCost cost = runChild(argv, stdinText, output);
    if (cost.status != expectedStatus) {
      figures.failure = "the tool ended with " + std::to_string(cost.status) + ", not " +
                        std::to_string(expectedStatus) + " (see " + output + ")";
      return figures;
    }
    figures.cpuNs = std::min(figures.cpuNs, cost.cpuNs);
    figures.peakRssKib = std::max(figures.peakRssKib, cost.peakRssKib);
    stats = labStats(run);
  }

  const std::string recorded = workDirectory + "/recorded";
  const std::string shadow = workDirectory + "/shadow";
  const std::string report = workDirectory + "/stream.txt";
  copyLab(templateRoot, recorded);
  copyLab(templateRoot, shadow);
  std::vector<std::string> argv{selfPath(), "record", recorded, shadow, report, "--"};
  argv.insert(argv.end(), toolArgs.begin(), toolArgs.end());
  const ChildCost cost = runChild(argv, stdinText, workDirectory + "/recorded.txt");
  const Values stream = readValues(report);
  if (cost.status != expectedStatus || stream.count("replay_matches") == 0) {
    figures.failure = "the recorded run ended with " + std::to_string(cost.status);
    return figures;
  }
  if (stream.at("replay_matches") != 1) {
    figures.failure = "the replay did not end where the run did";
    return figures;
  }
  if (stats.at("violations") != 0 ||
      stream.at("accesses") != stats.at("reg_reads") + stats.at("reg_writes")) {
    figures.failure = "the run counted violations, or the recorded run did other work";
    return figures;
  }
  figures.modelledNs = stats.at("virtual_us") * 1000;
  figures.boundNs = bound(stats, stream, jedecId, figures.statusWriteNs);
  figures.emulatorNs = stream.at("emulator_cpu_ns");
  figures.bytesRead = stats.at("bytes_read");
  figures.bytesProgrammed = stats.at("bytes_programmed");
  figures.readWordAccesses = stream.at("read_word_accesses");
  figures.programWordAccesses = stream.at("program_word_accesses");
  figures.erases = stream.at("erases");
  figures.pollsAfterErase = stream.at("polls_after_erase");
  figures.needlessPolls = stream.at("needless_polls");
  figures.pagePrograms = stream.at("page_programs");
  figures.pageProgramsWithData = stream.at("page_programs_with_data");
  figures.regReads = stats.at("reg_reads");
  figures.regWrites = stats.at("reg_writes");
  figures.transfers = stats.at("transfers");
  figures.commands = stats.at("commands");
  figures.modifyingTransfers = stats.at("modifying_transfers");
  figures.statusWrites = stream.at("status_writes");
  figures.pollsAfterStatusWrite = stream.at("polls_after_status_write");
  figures.ok = true;
  fs::remove_all(run);
  fs::remove_all(recorded);
  fs::remove_all(shadow);
  return figures;
}

namespace {

struct Case {
  BenchLab lab;
  std::string name() const {
    return std::to_string(lab.capacity >> 20) + " MiB " + (lab.typeOneLayout ? "type-1" : "type-2") +
           " x" + std::to_string(lab.adapters);
  }
};

double ms(uint64_t ns) { return static_cast<double>(ns) / 1e6; }
double seconds(uint64_t ns) { return static_cast<double>(ns) / 1e9; }
double ratio(uint64_t a, uint64_t b) { return b == 0 ? 0.0 : static_cast<double>(a) / static_cast<double>(b); }

void printUpdateRow(const Case& c, const ScenarioFigures& f) {
  std::printf("%-18s %8.3f %8.3f %6.3f %6.3f %8.1f %6.2f%% %8.1f %6.2f %6.2f %7.0f %6llu %5llu/%-5llu %6.1f\n",
              c.name().c_str(), seconds(f.modelledNs), seconds(f.boundNs),
              ratio(f.modelledNs, f.boundNs),
              ratio(f.modelledNs, f.boundNs - f.statusWriteNs), ms(f.toolNs()),
              100.0 * ratio(f.toolNs(), f.modelledNs), ms(f.emulatorNs),
              ratio(f.readWordAccesses, f.bytesRead), ratio(f.programWordAccesses, f.bytesProgrammed),
              ratio(f.pollsAfterErase, f.erases) , static_cast<unsigned long long>(f.needlessPolls),
              static_cast<unsigned long long>(f.pageProgramsWithData),
              static_cast<unsigned long long>(f.pagePrograms),
              static_cast<double>(f.peakRssKib) / 1024.0);
}

// Linear growth: every adapter added costs the same. The cost of an added adapter from 1 to 4
// adapters and from 4 to 16 is shown, and their ratio (1 when the growth is linear).
void printGrowth(const std::vector<Case>& cases, const std::vector<ScenarioFigures>& figures) {
  std::printf("\nGrowth with the adapters: what one added adapter costs from 1 to 4 adapters, from "
              "4 to 16, and their ratio (linear: 1)\n");
  std::printf("%-13s %24s %24s %24s %24s\n", "", "modelled s", "tool CPU ms", "emulator CPU ms",
              "peak RSS MiB");
  const auto find = [&](const BenchLab& lab, unsigned adapters) -> const ScenarioFigures* {
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const BenchLab& other = cases[i].lab;
      if (other.capacity == lab.capacity && other.typeOneLayout == lab.typeOneLayout &&
          other.adapters == adapters && figures[i].ok) {
        return &figures[i];
      }
    }
    return nullptr;
  };
  for (const Case& c : cases) {
    if (c.lab.adapters != 1) continue;
    const ScenarioFigures* one = find(c.lab, 1);
    const ScenarioFigures* four = find(c.lab, 4);
    const ScenarioFigures* sixteen = find(c.lab, 16);
    if (one == nullptr || four == nullptr) continue;
    std::string name = c.name();
    name.resize(name.size() - 3);
    std::printf("%-13s", name.c_str());
    const auto column = [&](auto figure, double unit) {
      const double first = (figure(*four) - figure(*one)) / 3.0 / unit;
      if (sixteen == nullptr) {
        std::printf(" %7.3f %7s %8s", first, "-", "-");
        return;
      }
      const double second = (figure(*sixteen) - figure(*four)) / 12.0 / unit;
      std::printf(" %7.3f %7.3f %7.2fx", first, second, first == 0 ? 0.0 : second / first);
    };
    column([](const ScenarioFigures& f) { return static_cast<double>(f.modelledNs); }, 1e9);
    column([](const ScenarioFigures& f) { return static_cast<double>(f.toolNs()); }, 1e6);
    column([](const ScenarioFigures& f) { return static_cast<double>(f.emulatorNs); }, 1e6);
    column([](const ScenarioFigures& f) { return static_cast<double>(f.peakRssKib); }, 1024.0);
    std::printf("\n");
  }
}

// The emulator's counters of the one-adapter runs (more adapters repeat the same stream), with the
// time the status writes took and the modelled time against the bound without them.
void printCounters(const std::vector<Case>& cases, const std::vector<ScenarioFigures>& figures) {
  std::printf("\nEmulator counters of the one-adapter runs\n");
  std::printf("%-18s %9s %9s %9s %9s %7s %7s %8s %9s %8s %8s\n", "scenario", "reg reads",
              "reg wr", "transfers", "commands", "modify", "erases", "st.wr", "st.polls",
              "st.wr s", "w/o SW");
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const ScenarioFigures& f = figures[i];
    if (cases[i].lab.adapters != 1 || !f.ok) continue;
    std::printf("%-18s %9llu %9llu %9llu %9llu %7llu %7llu %8llu %9llu %8.3f %8.3f\n",
                cases[i].name().c_str(), static_cast<unsigned long long>(f.regReads),
                static_cast<unsigned long long>(f.regWrites),
                static_cast<unsigned long long>(f.transfers),
                static_cast<unsigned long long>(f.commands),
                static_cast<unsigned long long>(f.modifyingTransfers),
                static_cast<unsigned long long>(f.erases),
                static_cast<unsigned long long>(f.statusWrites),
                static_cast<unsigned long long>(f.pollsAfterStatusWrite),
                seconds(f.statusWriteNs), ratio(f.modelledNs, f.boundNs - f.statusWriteNs));
  }
}

// From the 2 MiB part to the 4 MiB one only the backup grows (the update's layout is 2 MiB on
// either): the difference is shown per extra MiB read.
void printPartGrowth(const std::vector<Case>& cases, const std::vector<ScenarioFigures>& figures) {
  std::printf("\nFrom the 2 MiB part to the 4 MiB part: the difference per MiB more read (the "
              "backup)\n");
  std::printf("%-18s %12s %14s %14s %14s %14s\n", "scenario", "MiB more", "modelled s/MiB",
              "bound s/MiB", "tool ms/MiB", "emul ms/MiB");
  for (std::size_t i = 0; i < cases.size(); ++i) {
    if (cases[i].lab.capacity != (4u << 20) || !figures[i].ok) continue;
    for (std::size_t j = 0; j < cases.size(); ++j) {
      if (cases[j].lab.capacity != (2u << 20) || cases[j].lab.adapters != cases[i].lab.adapters ||
          cases[j].lab.typeOneLayout != cases[i].lab.typeOneLayout || !figures[j].ok) {
        continue;
      }
      const ScenarioFigures& big = figures[i];
      const ScenarioFigures& small = figures[j];
      const double mib = (static_cast<double>(big.bytesRead) - static_cast<double>(small.bytesRead)) /
                         (1024.0 * 1024.0);
      const auto per = [mib](uint64_t a, uint64_t b, double unit) {
        return (static_cast<double>(a) - static_cast<double>(b)) / unit / mib;
      };
      std::printf("%-18s %12.2f %14.3f %14.3f %14.2f %14.2f\n", cases[i].name().c_str(), mib,
                  per(big.modelledNs, small.modelledNs, 1e9), per(big.boundNs, small.boundNs, 1e9),
                  per(big.toolNs(), small.toolNs(), 1e6),
                  per(big.emulatorNs, small.emulatorNs, 1e6));
    }
  }
}

// What the program's own side pays before the first byte: hlvsim identifying the part of a one
// adapter lab (process start, lab, interface, identification), the cheapest of three.
double ownFixedCost(const std::string& work) {
  const std::string lab = work + "/identify";
  fs::remove_all(lab);
  if (!writeBenchLab(lab, {0xC22016, kComparedPartBytes, 1, false})) return 0;
  uint64_t cheapest = std::numeric_limits<uint64_t>::max();
  for (int round = 0; round < 3; ++round) {
    const ChildCost cost = runChild({selfDirectory() + "/hlvsim", "flash", lab, "0000:01:00.0",
                                     "identify"},
                                    "", work + "/identify.txt");
    if (cost.status != 0) return 0;
    cheapest = std::min(cheapest, cost.cpuNs);
  }
  fs::remove_all(lab);
  return static_cast<double>(cheapest);
}

void printJobRow(const char* name, const FlashJobCosts& c) {
  const double mib = kComparedPartBytes / (1024.0 * 1024.0);
  std::printf("%-14s %10.2f %12.2f %10.2f %10.2f | %10.2f %12.2f %10.2f\n", name,
              c.readNsPerMib / 1e6, c.eraseWriteNsPerMib / 1e6, c.verifyNsPerMib / 1e6,
              c.fixedNs / 1e6, (c.readNsPerMib + c.fixedNs / mib) / 1e6,
              (c.eraseWriteNsPerMib + c.fixedNs / mib) / 1e6,
              (c.verifyNsPerMib + c.fixedNs / mib) / 1e6);
}

void compareWithFlashrom(const std::string& work) {
  std::printf("\nCPU ms per MiB: the program's flash layer with the emulator against flashrom's "
              "dummy programmer (%s), a 4 MiB part\n",
              kFlashromPart);
  FlashJobCosts own;
  if (!measureOwnFlashJobs(own)) {
    std::printf("the program's own flash jobs failed\n");
    return;
  }
  own.fixedNs = ownFixedCost(work);
  std::printf("%-14s %10s %12s %10s %10s | %34s\n", "", "read", "erase+write", "verify",
              "fixed ms", "a whole 4 MiB run, per MiB");
  printJobRow("tool+emulator", own);
  const std::string flashrom = findProgram("flashrom");
  if (flashrom.empty()) {
    std::printf("flashrom is not installed: the comparison is skipped (install it with "
                "`apt-get install flashrom`)\n");
    return;
  }
  FlashJobCosts theirs;
  fs::create_directories(work + "/flashrom");
  if (!measureFlashromJobs(flashrom, work + "/flashrom", theirs)) {
    std::printf("flashrom failed: the comparison is skipped\n");
    return;
  }
  printJobRow("flashrom", theirs);
  const double mib = kComparedPartBytes / (1024.0 * 1024.0);
  const auto whole = [mib](double perMib, double fixed) { return perMib + fixed / mib; };
  std::printf("%-14s %9.2fx %11.2fx %9.2fx %10s | %9.2fx %11.2fx %9.2fx\n", "ratio",
              own.readNsPerMib / theirs.readNsPerMib,
              own.eraseWriteNsPerMib / theirs.eraseWriteNsPerMib,
              own.verifyNsPerMib / theirs.verifyNsPerMib, "",
              whole(own.readNsPerMib, own.fixedNs) / whole(theirs.readNsPerMib, theirs.fixedNs),
              whole(own.eraseWriteNsPerMib, own.fixedNs) /
                  whole(theirs.eraseWriteNsPerMib, theirs.fixedNs),
              whole(own.verifyNsPerMib, own.fixedNs) / whole(theirs.verifyNsPerMib, theirs.fixedNs));
}

}  // namespace

int runBenchmark(bool quick) {
  const std::string work = fs::temp_directory_path().string() + "/hlvbench." + std::to_string(getpid());
  fs::create_directories(work);
  // The tool's single-instance marker is keyed by a file of this name in its working directory.
  // Without one every copy of the tool on the machine shares a key, and a run that meets
  // another copy (a test, another benchmark) ends at once with status 1. The runs take the
  // benchmark's working directory, which gets a file of its own.
  std::ofstream(work + "/" + kInstanceKeyPath).flush();
  fs::current_path(work);
  std::vector<Case> cases;
  for (const uint32_t mib : {2u, 4u}) {
    for (const bool typeOne : {false, true}) {
      for (const unsigned adapters : {1u, 4u, 16u}) {
        if (quick && adapters == 16) continue;
        cases.push_back({{mib == 2 ? 0xEF6015u : 0xC22016u, mib << 20, adapters, typeOne}});
      }
    }
  }
  const int repeats = quick ? 1 : 3;

  std::printf("Full silent update (backup, update, reload, driver restart) through hlvsim run\n");
  std::printf("%-18s %8s %8s %6s %6s %8s %7s %8s %6s %6s %7s %6s %11s %6s\n", "scenario",
              "model s", "bound s", "ratio", "w/o SW", "tool ms", "tool %", "emul ms", "reg/Br",
              "reg/Bp", "poll/er", "no-op", "pages data", "RSS MiB");
  std::vector<ScenarioFigures> figures;
  int status = 0;
  for (const Case& c : cases) {
    const std::string templateRoot = work + "/template";
    fs::remove_all(templateRoot);
    if (Result<> written = writeBenchLab(templateRoot, c.lab); !written) {
      std::fprintf(stderr, "hlvbench: %s\n", written.error().c_str());
      return 1;
    }
    figures.push_back(runScenario(templateRoot, c.lab.jedecId, work, {"-s"}, "", 0, repeats));
    if (figures.back().ok) {
      printUpdateRow(c, figures.back());
    } else {
      std::printf("%-18s FAILED: %s\n", c.name().c_str(), figures.back().failure.c_str());
      status = 1;
    }
    std::fflush(stdout);
  }
  printGrowth(cases, figures);
  printPartGrowth(cases, figures);
  printCounters(cases, figures);

  // Loading: the bundle and every adapter (versions, image choice, key check), the table, then
  // quit at the prompt.
  const BenchLab loadLab{0xEF6015, 2u << 20, quick ? 4u : 16u, false};
  const std::string templateRoot = work + "/template";
  fs::remove_all(templateRoot);
  if (Result<> written = writeBenchLab(templateRoot, loadLab); !written) return 1;
  const ScenarioFigures load =
      runScenario(templateRoot, loadLab.jedecId, work, {}, "y\nq\n", kExitInterrupted,
                  quick ? 1 : 5);
  // What hlvsim costs around the tool on that lab (process start, opening the lab, mapping the
  // flashes, writing the counters): the tool asked for its usage text only.
  const ScenarioFigures bare =
      runScenario(templateRoot, loadLab.jedecId, work, {"-h"}, "", 0, quick ? 1 : 5);
  std::printf("\nLoading the bundle and %u adapters, the table, quit: ", loadLab.adapters);
  if (load.ok && bare.ok) {
    const uint64_t tool = load.toolNs() > bare.cpuNs ? load.toolNs() - bare.cpuNs : 0;
    std::printf("tool CPU %.1f ms (process %.1f ms, less emulator %.1f ms, less hlvsim and "
                "process start %.1f ms), modelled %.3f s\n",
                ms(tool), ms(load.cpuNs), ms(load.emulatorNs), ms(bare.cpuNs),
                seconds(load.modelledNs));
  } else {
    std::printf("FAILED: %s\n", load.failure.c_str());
    status = 1;
  }

  compareWithFlashrom(work);
  fs::remove_all(work);
  return status;
}

}  // namespace hlv::bench
