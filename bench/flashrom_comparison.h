// CPU per MiB for the same three jobs, done by the program's own flash layer on an emulated
// 4 MiB part (program and emulator together, in this process) and by flashrom's dummy programmer
// emulating a 4 MiB SPI part: reading the whole part, erasing and writing it whole, verifying it.
#pragma once

#include <cstdint>
#include <string>

namespace hlv::bench {

struct FlashJobCosts {
  double readNsPerMib = 0;
  double eraseWriteNsPerMib = 0;
  double verifyNsPerMib = 0;
  // What a run costs before its first byte (process start, finding the part), taken off the
  // figures above; measured by the caller for the program's own side.
  double fixedNs = 0;
};

// The program's flash layer and the emulator; false when a job failed.
bool measureOwnFlashJobs(FlashJobCosts& costs);

// flashrom at `program` in `workDirectory`; false, saying why on standard error, when a run of
// it failed.
bool measureFlashromJobs(const std::string& program, const std::string& workDirectory,
                         FlashJobCosts& costs);

// The part both emulate, by its size.
inline constexpr uint32_t kComparedPartBytes = 4u << 20;
inline constexpr char kFlashromPart[] = "SST25VF032B";

}  // namespace hlv::bench
