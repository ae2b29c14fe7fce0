// What a soak is made of, all drawn from its seed: a lab of several emulated adapters that differ
// in flash part, flash layout, model (image type 1, reloaded, or 2, power cycled) and firmware
// side; the update bundle of each firmware version; and the faults the lab can inject into a run
// of the tool, each as the adapter.conf lines that arm it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/firmware_version.h"
#include "sim/seeded_random.h"
#include "tests/e2e/lab_scenario.h"

namespace hlv::test::soak {

// The soak's own numbers: one sequence per seed (the emulator's splitmix64).
class SoakRandom {
 public:
  explicit SoakRandom(uint64_t seed) : random_(seed) {}
  uint64_t below(uint64_t bound) { return bound == 0 ? 0 : random_.below(bound); }
  // A number from low to high, both included.
  uint64_t between(uint64_t low, uint64_t high) { return low + below(high - low + 1); }
  bool percent(uint64_t chance) { return below(100) < chance; }
  template <typename T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

 private:
  sim::SeededRandom random_;
};

// The flash layouts an adapter may start from: the type-2 layout fresh, after an update in
// either direction, and the arrangements of the old type-1 layout the update rearranges first.
enum class StartLayout : uint8_t {
  kFresh,             // NCB0 active over bank A, NCB1 erased
  kUpdated,           // NCB0 deactivated (the previous firmware), NCB1 active over bank B
  kNcb0Current,       // NCB0 active, NCB1 deactivated with the previous firmware
  kBothActive,        // as a rollback cut between its two block writes leaves it
  kTypeOneFreeA,      // NCB0 active over bank B, bank A its free area
  kTypeOneFreeB,      // NCB0 active high in bank A, the low part of bank B free
  kTypeOneNcb1FreeA,  // NCB1 active high in bank A, the low part of bank A free
  kTypeOneNcb1FreeB,  // NCB1 active over bank A, bank B free, NCB0 deactivated over bank B
};
const char* layoutName(StartLayout layout);

struct AdapterPlan {
  std::string part;  // what the adapter.conf says of the part, for the figures
  std::string partConf;
  uint32_t capacity = 0;
  bool typeTwoModel = false;  // PCI device 0x21C3: image type 2, power cycled
  StartLayout layout = StartLayout::kFresh;
  std::string firmwareConf;  // the firmware side: interface, jitter, chip revision...
};

struct SoakLabPlan {
  std::vector<AdapterPlan> adapters;
  LabSpec spec;
};

// The firmware every adapter runs at the start, and the previous one of layouts that keep one.
inline constexpr FirmwareVersion kStartVersion{1, 5, 90};
inline constexpr FirmwareVersion kStartPrevious{1, 4, 0};

// `count` adapters drawn from the random sequence; with `largeParts`, 4 MiB parts are in the mix.
SoakLabPlan drawLab(SoakRandom& random, std::size_t count, bool largeParts);
// A lab of the adapters given (named enp1s0, enp2s0, ... in their order), as drawLab makes them.
SoakLabPlan labOf(const std::vector<AdapterPlan>& adapters);
// An adapter on the part of that name (as drawLab's parts are named: "EF6015", "C22016", ...).
AdapterPlan adapterOn(const std::string& part, bool typeTwoModel, StartLayout layout,
                      const std::string& firmwareConf = "");

// The image of firmware `version` for a model (small components whose sizes vary with the
// version), and the name the bundle gives it; the database names both models' images.
std::vector<uint8_t> bundleImageBytes(FirmwareVersion version, bool typeTwoModel);
const char* bundleImageFile(bool typeTwoModel);

// The n-th firmware version of the soak's sequence (1.6.n).
FirmwareVersion soakVersion(uint32_t n);

// The faults a run may be hit by.
enum class FaultKind : uint8_t {
  kPowerCut,         // power lost right after a program or erase command
  kTornCut,          // during one, which is left partly done (whole bytes of an erase garbled)
  kTornCutBits,      // the same, an erase torn at bit level
  kFlashIgnored,     // a program or erase the part ignores
  kFlashWrongBit,    // one done with a bit left as it was
  kFlashStuck,       // one after which the part stays busy
  kKill,             // the tool killed (SIGKILL) at a moment of its run
  kSignalAtTime,     // Ctrl-C, SIGTERM, SIGHUP or SIGQUIT at a moment of the run
  kSignalAtCommand,  // the same right after an SPI command (inside the backup read...)
  kSignalAtGrant,    // the same right after a hardware semaphore is granted
  kEngineStuck,      // the command engine busy from the start
  kPartStuck,        // the part busy from the start
  kFirmwareStuck,    // the firmware never comes back after a reset
  kPhyStuck,         // the PHY never becomes ready after its restart
  kMdioHeld,         // the firmware never lets the MDIO semaphore go
  kFuseHeld,         // nor the fuse semaphore
  kMapRefused,       // the kernel refuses to map the adapter's registers
};
inline constexpr std::size_t kFaultKinds = 17;
const char* faultName(FaultKind kind);

struct Fault {
  FaultKind kind;
  std::size_t adapter;
  uint64_t at = 0;  // the command, the microsecond or the grant it strikes at
  uint64_t seed = 0;
  std::string conf;  // the adapter.conf lines
  std::string describe() const;
};

// Whether the fault keeps the tool from reading the adapter at all (it is then "Not available").
bool makesUnreadable(FaultKind kind);
// Whether the fault may make a program or erase command fail, or cut one.
bool hitsFlashCommands(FaultKind kind);

// What a fault is drawn against: how many program and erase commands, SPI commands and
// microseconds of virtual time the adapter's part of such a run took before.
struct RunExtent {
  uint64_t modifyingCommands = 0;
  uint64_t commands = 0;
  uint64_t virtualUs = 0;
};
Fault drawFault(SoakRandom& random, std::size_t adapter, const RunExtent& extent,
                bool bitLevelTears);

}  // namespace hlv::test::soak
