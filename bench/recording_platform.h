// The platform of a recorded run: the lab's platform, with every register access, clock read,
// sleep and yield of the program written into a stream. The stream is replayed, in batches, on
// a second copy of the lab (the shadow: the same adapters from the same flash contents, with a
// clock of their own), and only that replay is timed: what it costs is what the emulator costs
// for the run, without the program.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/stream_analysis.h"
#include "sim/lab.h"
#include "sim/lab_platform.h"

namespace hlv::bench {

class RecordingPlatform final : public sim::LabPlatform {
 public:
  // Both labs must hold the same adapters in the same state; the report is written to
  // reportPath when the platform is destroyed (after the program's teardown).
  RecordingPlatform(std::unique_ptr<sim::Lab> lab, std::unique_ptr<sim::Lab> shadow,
                    std::string reportPath);
  ~RecordingPlatform() override;

  uint64_t monotonicNanoseconds() override;
  void sleepMicroseconds(uint64_t microseconds) override;
  void yieldProcessor() override;
  VoRegControlInterface* emulatedRegisters(const void* mapping) override;

  sim::Lab& lab() { return *lab_; }

  // Records one event and replays the batch when it is full.
  enum class Event : uint8_t { kRead, kWrite, kClockRead, kSleep, kYield };
  void record(Event event, uint32_t adapter, uint32_t offset, uint32_t value);

 private:
  class Recorder;
  void replay();
  std::string report() const;

  std::unique_ptr<sim::Lab> lab_;
  std::unique_ptr<sim::Lab> shadow_;
  std::string reportPath_;
  std::map<const VoRegControlInterface*, std::unique_ptr<Recorder>> recorders_;
  std::vector<StreamAnalysis> analyses_;
  std::vector<uint64_t> batch_;
  uint64_t events_ = 0;
  uint64_t replayNs_ = 0;  // thread CPU time of the replays
};

}  // namespace hlv::bench
