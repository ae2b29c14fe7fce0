// The SPI NOR flash part on the adapter, seen from its pins: chip select, then bytes shifted in
// and out. It decodes the command from the bytes it receives and, like a real part, carries out
// a program, erase or status write only when chip select is released after a complete command.
//
// NOR semantics: an erase sets its unit to 0xFF, a program only clears bits (the new byte is the
// old byte AND the data). Program data wraps inside its page; a read running past the end of
// the array wraps to its start. While a program, erase or status write runs, the part is busy
// and answers only its status read. Sequences that a real part would ignore or mishandle are
// counted as violations: an opcode it does not know (the identification probes, which a part
// that does not know them simply leaves unanswered, aside), and bytes framed in a way the
// command does not take them (an address where it has none, a data phase of the wrong
// direction, a command ended before its address, dummy or data bytes).
//
// A power cut can strike while a program or erase runs (the modifying-command hook says so
// before the command takes effect, with a seed); the part is then left as a real one is:
//   - a page program cut short has done part of its work: each byte it would change is, at
//     random, programmed, left as it was, or has only some of its bits cleared;
//   - an erase cut short has erased a leading run of its unit (empty half the time, as when the
//     cut comes before the cells start to rise), and left the rest unchanged or, at random,
//     garbled: each byte of the rest erased or as it was, or, with TornErase::kBits, each bit of
//     it erased or as it was.
// The result is a function of the seed and the number of the command, so a run can be repeated.
//
// One program or erase command of a run may be made to go wrong (AdapterConfig::flashFaultAt
// and flashFault): ignored, carried out with one bit left as it was, or leaving the part busy
// for good once carried out.
//
// A part configured with a flag status register also answers 0x70 with bit 7 set when ready (and
// nothing else), as a status read the part takes while busy.
//
// The protection bits of the status register are non-volatile when written after write enable
// (0x06): they survive a power cut. Written after 0x50 (on parts that have it) they are
// volatile: the non-volatile value comes back at power-on.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/flash_part_model.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

// How the command engine frames a byte it shifts: the opcode, an address or dummy byte, or a
// data byte sent to the part (program) or taken from it.
enum class BytePhase : uint8_t { kOpcode, kAddress, kDummy, kDataOut, kDataIn };

class SpiFlashPart {
 public:
  // storage holds the whole array and must be exactly model.capacity bytes.
  SpiFlashPart(FlashPartModel model, const AdapterConfig& config, VirtualClock& clock,
               std::span<uint8_t> storage, AdapterStats& stats);

  // Called for each program or erase command the part received (executed or not), before it
  // takes effect, with its opcode and the address it was sent with. A seed returned means the
  // power fails during the command's busy time: the command is left partly done, drawn from the
  // seed.
  using ModifyingCommandHook =
      std::function<std::optional<uint64_t>(uint8_t opcode, uint32_t address)>;
  void setModifyingCommandHook(ModifyingCommandHook hook) { modifyingHook_ = std::move(hook); }
  // Called right after the part has taken the opcode of each command it receives, whatever the
  // command (reads, status polls and ignored ones included).
  void setCommandHook(std::function<void()> hook) { commandHook_ = std::move(hook); }

  void select();
  // Shifts one byte in and returns the byte shifted out at the same time.
  uint8_t exchange(uint8_t mosi, BytePhase phase);
  // Shifts `count` (at most 4) data bytes of one phase, the first from bits 0-7 of mosi, and
  // returns the bytes shifted out the same way: exchange() byte by byte.
  uint32_t exchangeData(uint32_t mosi, uint32_t count, BytePhase phase);
  void deselect();
  bool selected() const { return selected_; }

  // Power-on reset: no command, not busy, write enable clear, protection bits as last written
  // to the non-volatile status (as configured until then).
  void powerOn();

  bool busy() const;
  void setStuck(bool stuck) { stuck_ = stuck; }
  bool writeEnabled() const { return writeEnable_; }
  bool locked() const;
  // The protection the part comes back with after a power cut.
  bool lockedAtPowerOn() const;
  const FlashPartModel& model() const { return model_; }

 private:
  enum class Command : uint8_t {
    kIgnored,
    kRead,
    kFastRead,
    kProgram,
    kErase,
    kWriteEnable,
    kWriteDisable,
    kStatusWriteEnable,
    kReadStatus,
    kReadFlagStatus,
    kWriteStatus,
    kJedecId,
    kShortId,
    kSfdp,
  };

  enum class DataPhase : uint8_t { kNone, kIn, kOut };
  // How a command's bytes are framed after its opcode.
  struct Frame {
    uint32_t addressBytes;
    uint32_t dummyBytes;
    DataPhase data;
  };

  Command decode(uint8_t opcode) const;
  static Frame frameOf(Command command);
  static bool identificationProbe(uint8_t opcode);
  void takeOpcode(uint8_t opcode);
  bool framedAsExpected(BytePhase phase) const;
  bool frameComplete() const;
  void framingBroken();
  uint8_t statusByte() const;
  uint8_t readArrayByte(uint32_t index);
  uint8_t dataByte(uint8_t mosi);  // a data byte the command takes, in its place
  void finishProgram();
  void finishErase();
  void finishWriteStatus();
  bool mayModify();
  std::optional<uint64_t> tearingSeed();
  // Whether the configured flash fault strikes the command just received.
  bool faultStrikes();
  void keepOneBitOfProgram(uint8_t* page);
  void keepOneBitOfErase(std::span<uint8_t> unit, std::span<const uint8_t> before);
  void startBusy(uint64_t nanoseconds);
  uint64_t eraseTime(uint32_t size) const;

  FlashPartModel model_;
  // What each opcode means to this part, decoded once: the model does not change.
  std::array<Command, 256> commandOf_{};
  AdapterTimings timings_;
  TornErase tornErase_;
  uint64_t flashFaultAt_;
  FlashFault flashFault_;
  VirtualClock& clock_;
  std::span<uint8_t> storage_;
  AdapterStats& stats_;
  std::vector<uint8_t> sfdpArea_;
  ModifyingCommandHook modifyingHook_;
  std::function<void()> commandHook_;

  bool selected_ = false;
  bool stuck_ = false;
  Command command_ = Command::kIgnored;
  Frame frame_{0, 0, DataPhase::kNone};  // frameOf(command_), kept while the command runs
  uint8_t opcode_ = 0;
  bool opcodeReceived_ = false;
  bool broken_ = false;  // bytes framed against the command: it is ignored
  uint32_t addressReceived_ = 0;
  uint32_t dummyReceived_ = 0;
  uint32_t dataReceived_ = 0;
  bool beyondEndCounted_ = false;
  uint32_t address_ = 0;
  uint32_t pageOffset_ = 0;  // where in its page a program's first data byte lands
  std::vector<uint8_t> pageBuffer_;
  uint32_t dataBytes_ = 0;
  bool crossedPage_ = false;
  uint8_t newStatus_ = 0;

  uint64_t busyUntil_ = 0;
  bool writeEnable_ = false;
  bool statusWriteUnlocked_ = false;  // opcode 0x50 received: the next status write is volatile
  uint8_t protectionBits_ = 0;        // status register bits 2-7 in force
  uint8_t nonVolatileProtection_ = 0;  // the same bits as they come back at power-on
};

}  // namespace hlv::sim
