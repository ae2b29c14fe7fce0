// The MDIO interface (registers 0x280..0x290) and the Clause 45 PHY behind it.
//
// A frame is started by a write of the command register: an address frame latches the register
// address (0x28C) for the PHY and device it names, a read frame brings the addressed register
// into the read data register (0x290), a write frame stores the write data (0x288) there. A frame
// keeps bit 31 of the command register set for a few microseconds; starting another frame,
// writing the address or data register or reading the read data while it runs is a protocol
// break, and so is a frame started while the program does not hold the MDIO semaphore (the
// firmware shares the interface). The setup register (0x280) is written without the semaphore.
//
// The PHY answers at its configured address; at every other address, and everywhere when there is
// no PHY, a read gives 0xFFFF. Device 1 register 3 holds its identifier. On device 0x1E: writing
// bit 15 of register 0x0000 restarts it; bit 6 of 0xC841 is clear from then until it is ready
// again (never, when it is stuck); 0xC886 changes with every restart; the other registers
// (0xC001, 0xC442, 0xC3FE, 0x1000, ...) keep what is written.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "sim/adapter_config.h"
#include "sim/adapter_stats.h"
#include "sim/hardware_semaphores.h"
#include "sim/register_block.h"
#include "sim/virtual_clock.h"

namespace hlv::sim {

class MdioPhy : public RegisterBlock {
 public:
  MdioPhy(const AdapterConfig& config, VirtualClock& clock, AdapterStats& stats,
          const HardwareSemaphores& semaphores);

  bool claims(uint32_t offset) const override;
  uint32_t read(uint32_t offset) override;
  void write(uint32_t offset, uint32_t value) override;
  void powerOn() override;

  // A PHY register as the PHY holds it (0xFFFF where no PHY answers).
  uint16_t phyRegister(uint8_t device, uint16_t address) const;
  bool busy() const { return clock_.now() < frameEnd_; }

  // PHY registers and values the restart and the tests use.
  static constexpr uint8_t kVendorDevice = 0x1E;
  static constexpr uint16_t kIdentifier = 0x7431;  // device 1, register 3
  static constexpr uint16_t kControl = 0x0000;     // bit 15 restarts
  static constexpr uint16_t kStatus = 0xC841;      // bit 6: ready
  static constexpr uint16_t kRestartCount = 0xC886;
  static constexpr uint16_t kReadyBit = 1u << 6;
  static constexpr uint16_t kRestartBit = 1u << 15;

 private:
  bool phyAt(uint32_t port) const;
  uint16_t phyRead(uint8_t device, uint16_t address) const;
  void phyWrite(uint8_t device, uint16_t address, uint16_t value);
  void startFrame(uint32_t command);
  void finishFrame();

  const FirmwareConfig& firmware_;
  const AdapterTimings& timings_;
  VirtualClock& clock_;
  AdapterStats& stats_;
  const HardwareSemaphores& semaphores_;

  uint32_t setup_ = 0;
  uint32_t command_ = 0;
  uint32_t writeData_ = 0;
  uint32_t registerAddress_ = 0;
  uint32_t readData_ = 0;
  uint64_t frameEnd_ = 0;
  bool readPending_ = false;  // a read frame's data arrive when it ends
  uint16_t pendingData_ = 0;

  std::map<uint8_t, uint16_t> latchedAddress_;  // by device, for the PHY
  std::map<std::pair<uint8_t, uint16_t>, uint16_t> registers_;
  uint64_t restarts_ = 0;
  uint64_t readyAt_ = 0;  // the PHY is ready from this time on
  bool restartPending_ = false;
};

}  // namespace hlv::sim
