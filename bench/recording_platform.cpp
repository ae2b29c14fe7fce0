#include "bench/recording_platform.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "bench/thread_cpu.h"

namespace hlv::bench {
namespace {

// Events are replayed in batches of this many, so that reading the thread's CPU clock around
// each batch costs nothing next to the batch.
constexpr std::size_t kBatchEvents = 1 << 16;

// One event in 64 bits: the value in bits 0-31, the register offset in bits 32-55 (a region 0
// of 4 MiB needs 22), the event in bits 56-59 and the adapter in bits 60-63.
constexpr uint32_t kMaxAdapters = 16;
constexpr uint32_t kOffsetMask = 0xFFFFFF;

uint64_t pack(RecordingPlatform::Event event, uint32_t adapter, uint32_t offset, uint32_t value) {
  return static_cast<uint64_t>(adapter) << 60 | static_cast<uint64_t>(event) << 56 |
         static_cast<uint64_t>(offset & kOffsetMask) << 32 | value;
}

}  // namespace

// What the program holds instead of the adapter: passes every access on and records it.
class RecordingPlatform::Recorder final : public VoRegControlInterface {
 public:
  Recorder(RecordingPlatform& platform, uint32_t index, sim::EmulatedAdapter& adapter)
      : platform_(platform), index_(index), adapter_(adapter) {}

  uint32_t read32(uint32_t offset) override {
    platform_.record(Event::kRead, index_, offset, 0);
    return adapter_.read32(offset);
  }
  void write32(uint32_t offset, uint32_t value) override {
    platform_.record(Event::kWrite, index_, offset, value);
    adapter_.write32(offset, value);
  }

 private:
  RecordingPlatform& platform_;
  uint32_t index_;
  sim::EmulatedAdapter& adapter_;
};

RecordingPlatform::RecordingPlatform(std::unique_ptr<sim::Lab> lab,
                                     std::unique_ptr<sim::Lab> shadow, std::string reportPath)
    : LabPlatform(*lab),
      lab_(std::move(lab)),
      shadow_(std::move(shadow)),
      reportPath_(std::move(reportPath)),
      analyses_(lab_->adapters().size()) {
  batch_.reserve(kBatchEvents);
}

RecordingPlatform::~RecordingPlatform() {
  replay();
  if (FILE* out = std::fopen(reportPath_.c_str(), "w")) {
    std::fputs(report().c_str(), out);
    std::fclose(out);
  }
}

void RecordingPlatform::record(Event event, uint32_t adapter, uint32_t offset, uint32_t value) {
  ++events_;
  if (adapter < analyses_.size()) {
    if (event == Event::kRead) analyses_[adapter].read(offset);
    if (event == Event::kWrite) analyses_[adapter].write(offset, value);
  }
  batch_.push_back(pack(event, adapter, offset, value));
  if (batch_.size() == kBatchEvents) replay();
}

uint64_t RecordingPlatform::monotonicNanoseconds() {
  record(Event::kClockRead, 0, 0, 0);
  return LabPlatform::monotonicNanoseconds();
}

void RecordingPlatform::sleepMicroseconds(uint64_t microseconds) {
  // A sleep longer than the value field holds is recorded as several.
  for (uint64_t left = microseconds; left != 0;) {
    const uint32_t part = static_cast<uint32_t>(std::min<uint64_t>(left, UINT32_MAX));
    record(Event::kSleep, 0, 0, part);
    left -= part;
  }
  LabPlatform::sleepMicroseconds(microseconds);
}

void RecordingPlatform::yieldProcessor() {
  record(Event::kYield, 0, 0, 0);
  LabPlatform::yieldProcessor();
}

VoRegControlInterface* RecordingPlatform::emulatedRegisters(const void* mapping) {
  VoRegControlInterface* const adapter = LabPlatform::emulatedRegisters(mapping);
  if (adapter == nullptr) return nullptr;
  const std::vector<std::unique_ptr<sim::LabAdapter>>& adapters = lab_->adapters();
  for (uint32_t i = 0; i < adapters.size() && i < kMaxAdapters; ++i) {
    if (adapters[i]->adapter.get() != adapter) continue;
    std::unique_ptr<Recorder>& recorder = recorders_[adapter];
    if (!recorder) recorder = std::make_unique<Recorder>(*this, i, *adapters[i]->adapter);
    return recorder.get();
  }
  return adapter;  // beyond what an event can name: not recorded
}

void RecordingPlatform::replay() {
  const std::vector<std::unique_ptr<sim::LabAdapter>>& adapters = shadow_->adapters();
  const uint64_t start = threadCpuNanoseconds();
  for (const uint64_t packed : batch_) {
    const auto value = static_cast<uint32_t>(packed);
    const auto offset = static_cast<uint32_t>(packed >> 32 & kOffsetMask);
    const auto event = static_cast<Event>(packed >> 56 & 0xF);
    const auto adapter = static_cast<uint32_t>(packed >> 60);
    switch (event) {
      case Event::kRead:
        adapters[adapter]->adapter->read32(offset);
        break;
      case Event::kWrite:
        adapters[adapter]->adapter->write32(offset, value);
        break;
      case Event::kClockRead:
        shadow_->clock().advance(kClockReadNs);
        break;
      case Event::kSleep:
        shadow_->clock().advance(uint64_t{value} * 1000);
        break;
      case Event::kYield:
        shadow_->clock().advance(kYieldNs);
        break;
    }
  }
  replayNs_ += threadCpuNanoseconds() - start;
  batch_.clear();
}

std::string RecordingPlatform::report() const {
  // The replay counts only when the shadow ended where the run did: same flash, same counters.
  bool same = lab_->adapters().size() == shadow_->adapters().size();
  for (std::size_t i = 0; same && i < lab_->adapters().size(); ++i) {
    sim::EmulatedAdapter& real = *lab_->adapters()[i]->adapter;
    sim::EmulatedAdapter& twin = *shadow_->adapters()[i]->adapter;
    const sim::AdapterStats a = real.stats();
    const sim::AdapterStats b = twin.stats();
    same = a.regReads == b.regReads && a.regWrites == b.regWrites &&
           a.transfers == b.transfers && a.bytesProgrammed == b.bytesProgrammed &&
           a.virtualNs == b.virtualNs && real.flash().size() == twin.flash().size() &&
           std::memcmp(real.flash().data(), twin.flash().data(), real.flash().size()) == 0;
  }
  StreamCounts total;
  for (const StreamAnalysis& analysis : analyses_) {
    const StreamCounts& c = analysis.counts();
    total.accesses += c.accesses;
    total.readWordAccesses += c.readWordAccesses;
    total.programWordAccesses += c.programWordAccesses;
    total.erases += c.erases;
    total.statusWrites += c.statusWrites;
    total.pagePrograms += c.pagePrograms;
    total.pageProgramsWithData += c.pageProgramsWithData;
    total.pollsAfterErase += c.pollsAfterErase;
    total.pollsAfterProgram += c.pollsAfterProgram;
    total.pollsAfterStatusWrite += c.pollsAfterStatusWrite;
    total.needlessPolls += c.needlessPolls;
  }
  std::string text;
  const auto line = [&text](const char* key, uint64_t value) {
    text += std::string(key) + " = " + std::to_string(value) + "\n";
  };
  line("replay_matches", same ? 1 : 0);
  line("emulator_cpu_ns", replayNs_);
  line("events", events_);
  line("accesses", total.accesses);
  line("read_word_accesses", total.readWordAccesses);
  line("program_word_accesses", total.programWordAccesses);
  line("erases", total.erases);
  line("status_writes", total.statusWrites);
  line("page_programs", total.pagePrograms);
  line("page_programs_with_data", total.pageProgramsWithData);
  line("polls_after_erase", total.pollsAfterErase);
  line("polls_after_program", total.pollsAfterProgram);
  line("polls_after_status_write", total.pollsAfterStatusWrite);
  line("needless_polls", total.needlessPolls);
  return text;
}

}  // namespace hlv::bench
