// An emulated adapter: the register window a mapped PCI region 0 would give, routed to the
// adapter's hardware blocks (flash command engine, control word, firmware control, MDIO and PHY,
// hardware semaphores, chip revision and fuses, and whatever is added), with its SPI flash part,
// counters, virtual time and fault injection.
//
// Every register access advances the virtual clock (a read costs more than a write), so waits
// bounded by register polls or by the clock cost no real time. Registers no block claims read 0
// and drop writes; such accesses are counted. After a power cut every read returns 0xFFFFFFFF
// and writes are lost, as with an adapter that fell off the bus.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "device/voregcontrolinterface.h"
#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/chip_fuses.h"
#include "sim/control_word.h"
#include "sim/firmware_control.h"
#include "sim/flash_command_engine.h"
#include "sim/flash_part_model.h"
#include "sim/hardware_semaphores.h"
#include "sim/mdio_phy.h"
#include "sim/register_block.h"
#include "sim/spi_flash_part.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

class EmulatedAdapter : public VoRegControlInterface {
 public:
  using Stats = AdapterStats;

  // With flash storage of its own, erased (0xFF), of the part's capacity.
  EmulatedAdapter(const AdapterConfig& config, VirtualClock& clock);
  // On external storage (a mapped flash file) of exactly the part's capacity; it must outlive
  // the adapter.
  EmulatedAdapter(const AdapterConfig& config, VirtualClock& clock, std::span<uint8_t> flash);
  ~EmulatedAdapter() override;
  EmulatedAdapter(const EmulatedAdapter&) = delete;
  EmulatedAdapter& operator=(const EmulatedAdapter&) = delete;

  uint32_t read32(uint32_t offset) override;
  void write32(uint32_t offset, uint32_t value) override;

  // Adds a hardware block. A block added later is asked before the earlier ones, so a fuller
  // model of a register (the control word, say) takes it over from a plainer one.
  void addBlock(std::unique_ptr<RegisterBlock> block);

  const AdapterConfig& config() const { return config_; }
  const FlashPartModel& partModel() const { return part_.model(); }
  std::span<uint8_t> flash() { return flash_; }
  std::span<const uint8_t> flash() const { return flash_; }
  VirtualClock& clock() { return clock_; }

  // The counters, with the virtual time and the power state as of now.
  AdapterStats stats() const;
  uint64_t violations() const { return stats_.violations; }
  uint64_t violations(Violation kind) const { return stats_.count(kind); }
  // Starts counting from zero again (the virtual clock goes on).
  void resetStats();

  // Power is lost right after the n-th further program or erase command has taken effect; 0
  // cuts it now.
  void cutPowerAfter(uint64_t commands);
  // Power is lost while the n-th further program or erase command runs (n at least 1): the
  // part is left with that command partly done, as drawn from the seed.
  void cutPowerDuring(uint64_t command, uint64_t seed);
  // Power comes back: every block starts from its power-on state; the flash keeps its contents.
  void restorePower();
  bool poweredOff() const { return poweredOff_; }

  void setEngineStuck(bool stuck) { engine_.setStuck(stuck); }
  void setPartStuck(bool stuck) { part_.setStuck(stuck); }

  SpiFlashPart& part() { return part_; }
  FlashCommandEngine& engine() { return engine_; }
  ControlWord& controlWord() { return *controlWord_; }
  FirmwareControl& firmwareControl() { return *firmwareControl_; }
  const FirmwareControl& firmwareControl() const { return *firmwareControl_; }
  MdioPhy& mdio() { return *mdio_; }
  const MdioPhy& mdio() const { return *mdio_; }
  HardwareSemaphores& semaphores() { return *semaphores_; }
  const HardwareSemaphores& semaphores() const { return *semaphores_; }
  ChipFuses& chipFuses() { return *chipFuses_; }

 private:
  RegisterBlock* blockFor(uint32_t offset);
  void addFirmwareBlocks();
  std::optional<uint64_t> beforeModifyingCommand(uint8_t opcode, uint32_t address);

  AdapterConfig config_;
  VirtualClock& clock_;
  std::vector<uint8_t> ownedFlash_;
  std::span<uint8_t> flash_;
  AdapterStats stats_;
  SpiFlashPart part_;
  FlashCommandEngine engine_;
  ControlWord* controlWord_ = nullptr;
  HardwareSemaphores* semaphores_ = nullptr;
  FirmwareControl* firmwareControl_ = nullptr;
  MdioPhy* mdio_ = nullptr;
  ChipFuses* chipFuses_ = nullptr;
  uint64_t semaphoreGrants_ = 0;
  uint64_t commandsReceived_ = 0;  // SPI commands the part received, for the signal hook
  std::vector<std::unique_ptr<RegisterBlock>> ownedBlocks_;
  std::vector<RegisterBlock*> blocks_;
  struct DispatchEntry {
    bool valid = false;
    uint32_t offset = 0;
    RegisterBlock* block = nullptr;
  };
  std::array<DispatchEntry, 64> dispatch_{};  // by register, direct-mapped
  bool poweredOff_ = false;
  bool powerCutArmed_ = false;
  uint64_t commandsBeforeCut_ = 0;
  std::optional<uint64_t> tearSeed_;  // the armed cut tears its command
};

}  // namespace hlv::sim
