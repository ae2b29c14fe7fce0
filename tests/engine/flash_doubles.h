// Flash controls for engine tests: an in-memory part of any geometry, a decorator that records
// the calls reaching a part and injects faults, and an emulated adapter's part behind the real
// flash layer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "flashctl/voapiflashcontrol.h"
#include "flashctl/voflashcontrolinterface.h"
#include "sim/emulated_adapter.h"
#include "tests/support/adapter_rig.h"

namespace hlv::test {

struct FlashCall {
  enum class Kind : uint8_t { kRead, kWrite, kEraseSector, kEraseBlock };
  Kind kind;
  uint32_t address;
  uint32_t length;  // bytes read, programmed or erased
  bool operator==(const FlashCall&) const = default;
};
std::ostream& operator<<(std::ostream& out, const FlashCall& call);

struct Geometry {
  uint16_t pageSize = 256;
  uint32_t sectorSize = 0x1000;
  uint32_t blockSize = 0x10000;
  bool blockEraseSupported = true;
  uint32_t flashSize = 0x200000;
};

// Gives a flash double the geometry of the flash it stands in front of.
void copyGeometry(const VoFlashControlInterface& from, VoFlashControlInterface& to);

// A part in memory with NOR behaviour: erase sets a unit to 0xFF, programming only clears
// bits. Erasing an address that is not the start of its unit fails, as does any access past
// the end.
class NorMemoryFlash : public VoFlashControlInterface {
 public:
  explicit NorMemoryFlash(const Geometry& geometry = {});
  bool init() override { return true; }
  bool read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) override;
  bool write(uint32_t address, const uint8_t* buffer, uint32_t length,
             uint32_t& bytesWritten) override;
  bool eraseSector(uint32_t address) override;
  bool eraseBlock(uint32_t address) override;

  std::vector<uint8_t> contents;

 private:
  bool erase(uint32_t address, uint32_t unit);
};

// Passes every call to another part, records it, and fails or corrupts the calls a test picks.
// The geometry is copied from the inner part at construction and may then be changed.
class FlashDecorator : public VoFlashControlInterface {
 public:
  explicit FlashDecorator(VoFlashControlInterface& inner);
  bool init() override;
  bool read(uint32_t address, uint8_t* buffer, uint32_t length, uint32_t& bytesRead) override;
  bool write(uint32_t address, const uint8_t* buffer, uint32_t length,
             uint32_t& bytesWritten) override;
  bool eraseSector(uint32_t address) override;
  bool eraseBlock(uint32_t address) override;

  // The n-th call of that kind from now on (1 = the next one) and the `count` - 1 after it fail
  // without reaching the part.
  void failCalls(FlashCall::Kind kind, int n, int count = 1);
  // The same, counting only the calls at addresses in [begin, end): a fault named by the part of
  // the flash it hits (the phase of an update), whatever the calls before it.
  void failCallsIn(FlashCall::Kind kind, uint32_t begin, uint32_t end, int n, int count = 1);
  // Reads that cover this flash address return the byte inverted.
  std::optional<uint32_t> corruptReadAt;
  // Writes that cover this flash address program the byte inverted.
  std::optional<uint32_t> corruptWriteAt;

  std::vector<FlashCall> calls;
  std::vector<FlashCall> callsOf(FlashCall::Kind kind) const;

 private:
  struct Failure {
    uint32_t begin;
    uint32_t end;
    int left;   // calls in the range until the first that fails
    int count;  // calls that fail
  };
  bool shouldFail(FlashCall::Kind kind, uint32_t address);

  VoFlashControlInterface& inner_;
  std::map<FlashCall::Kind, Failure> failures_;
};

// The adapter rig (quick busy times) with the real flash layer on it, initialised and driving
// the adapter directly: a sweep's millions of accesses are not recorded. Its teardown asserts
// clean register traffic.
class EmulatedFlash : public AdapterRig {
 public:
  explicit EmulatedFlash(uint32_t jedecId = 0xEF6015);
  ~EmulatedFlash();

  // Puts an image (or any bytes) at the start of the part, as if programmed earlier.
  void load(const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> contents() const;
  uint64_t violations() const { return adapter.violations(); }

  std::unique_ptr<VoApiFlashControl> flash;
};

}  // namespace hlv::test
