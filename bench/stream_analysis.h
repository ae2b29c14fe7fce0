// What the register stream of a run says about the flash work: which transfers the program
// started, the register accesses each kind of transfer took, and the status polls classified by
// what came before them. Fed one access at a time; one object per adapter.
#pragma once

#include <cstdint>

namespace hlv::bench {

// The kind of transfer a command word starts, told by the format register written before it.
enum class TransferKind : uint8_t {
  kNone,         // nothing started yet, or an identification or SFDP read
  kStatusRead,   // 0x0100
  kWriteEnable,  // 0x0000
  kWriteStatus,  // 0x0001
  kErase,        // 0x0003
  kReadWord,     // 0x0403 without the program bit
  kProgramWord,  // 0x0403 with the program bit
};

struct StreamCounts {
  uint64_t accesses = 0;
  uint64_t readWordAccesses = 0;     // accesses while a read word was the last transfer
  uint64_t programWordAccesses = 0;  // likewise for program words (data writes included)
  uint64_t erases = 0;
  uint64_t statusWrites = 0;
  uint64_t pagePrograms = 0;         // page chunks ended with a started last word
  uint64_t pageProgramsWithData = 0; // of these, chunks that carried a byte other than 0xFF
  uint64_t pollsAfterErase = 0;      // status reads while an erase may still run
  uint64_t pollsAfterProgram = 0;
  uint64_t pollsAfterStatusWrite = 0;
  // Status reads after a command that cannot leave the part busy (write enable, a read word,
  // identification) or before any command: they can only find the part ready.
  uint64_t needlessPolls = 0;
};

class StreamAnalysis {
 public:
  void read(uint32_t offset);
  void write(uint32_t offset, uint32_t value);
  const StreamCounts& counts() const { return counts_; }

 private:
  void started(uint32_t command);
  void attribute();

  StreamCounts counts_;
  uint32_t format_ = 0;
  TransferKind last_ = TransferKind::kNone;     // the last transfer started
  TransferKind lastBusy_ = TransferKind::kNone;  // the last one that was not a status read
  bool chunkHasData_ = false;
  uint32_t lastData_ = 0xFFFFFFFF;
};

}  // namespace hlv::bench
