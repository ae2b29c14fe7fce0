// The MDIO interface (registers 0x280..0x290) and the Clause 45 PHY behind it.
//
// The interface works only with the setup in 0x280 that the firmware leaves there and the
// program writes again before it scans for the PHY: enabled, clock divider 8 (0x101). A global
// reset clears the setup; the firmware sets it up again when it starts, except at the end of the
// interface-1 reset, which leaves the interface to the program. A frame while 0x280 holds
// anything else reaches nobody (a read gives 0xFFFF, a write is lost) and is counted
// (mdio_not_set_up).
//
// The interface is shared with the firmware: every access to the command, write data, register
// address and read data registers while the program does not hold the MDIO semaphore is counted
// (mdio_without_semaphore), except the reads of the command register that wait for the interface
// to be idle right after a write of the setup register (the setup needs no semaphore). The
// firmware uses the bus itself now and then (FirmwareControl decides when): the bus is busy
// meanwhile, and the firmware's frames leave their own register address latched in the PHY and
// their data in the read data register.
//
// A frame is started by a write of the command register: an address frame latches the register
// address (0x28C) for the PHY and device it names, a read frame brings the addressed register
// into the read data register (0x290), a write frame stores the write data (0x288) there. A frame
// keeps bit 31 of the command register set for a few microseconds; starting another frame,
// writing the address or data register or reading the read data while it runs is counted
// (mdio_while_busy) and what is written then is lost.
//
// The PHY answers at its configured address; at every other address, and everywhere when there is
// no PHY, a read gives 0xFFFF. Device 1 register 3 holds its identifier. On device 0x1E the
// restart is a sequence of writes the PHY follows step by step: 0xC001 = 0x0041 enters its
// restart mode, then 0x0000 = 0, 0xC442 = 1, 0xC3FE = 0, 0x0000 = 0x8000, and 0xC001 = 0 leaves
// the mode and starts the restart. Any other write in the mode ends it without a restart, and
// bit 15 of 0x0000 written outside it restarts nothing; both are counted (phy_restart_sequence).
// For 30 ms after its restart starts the PHY answers no frame (a frame to it then is counted as
// settle_time_too_short). Bit 6 of 0xC841 reports a completed restart: it reads 0 at power-on and
// while a restart runs, 1 once it has completed (never when the PHY is stuck), and 0 again after
// a read has seen it, until the next restart completes. 0xC886 counts the restarts. The other
// registers (0xC001, 0xC442, 0xC3FE, 0x1000, ...) keep what is written; the PHY is a chip of its
// own, which the adapter's global reset does not touch.
#pragma once

#include <cstdint>
#include <map>
#include <utility>

#include "device/register_map.h"
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

  // The firmware's side: a global reset clears the setup; the starting firmware sets it up; the
  // firmware uses the bus (it holds the semaphore) until `until`.
  void chipReset();
  void firmwareSetup();
  void firmwareUse(uint64_t until);

  // A PHY register as the PHY holds it (0xFFFF where no PHY answers); reading it here changes
  // nothing.
  uint16_t phyRegister(uint8_t device, uint16_t address) const;
  bool busy() const { return clock_.now() < frameEnd_; }
  bool setUp() const { return setup_ == kWorkingSetup; }

  // PHY registers and values the restart and the tests use: the register map's, which the
  // program drives the PHY with.
  static constexpr uint8_t kVendorDevice = reg::phy::kVendorDevice;
  static constexpr uint16_t kIdentifier = 0x7431;  // what the identifier register answers
  static constexpr uint16_t kControl = reg::phy::kControl;
  static constexpr uint16_t kRestartMode = reg::phy::kRestartMode;
  static constexpr uint16_t kRestartOption = reg::phy::kRestartOption;
  static constexpr uint16_t kRestartScratch = reg::phy::kRestartScratch;
  static constexpr uint16_t kStatus = reg::phy::kStatus;
  static constexpr uint16_t kRestartCount = reg::phy::kRestartCount;
  static constexpr uint16_t kFirmwarePolled =
      0xC820;  // what the firmware reads when it uses the bus
  static constexpr uint16_t kReadyBit = reg::phy::kReadyBit;
  static constexpr uint16_t kRestartBit = reg::phy::kRestartBit;
  // Enabled, clock divider 8.
  static constexpr uint32_t kWorkingSetup = 0x101;
  // After its restart starts, the PHY answers no frame for this long.
  static constexpr uint64_t kRestartQuietNs = 30000000;

 private:
  bool phyAt(uint32_t port) const;
  bool ready() const;
  uint16_t phyRead(uint8_t device, uint16_t address) const;
  void phyWrite(uint8_t device, uint16_t address, uint16_t value);
  void startRestart();
  void startFrame(uint32_t command);
  void finishFrame();
  void checkHolder();

  const FirmwareConfig& firmware_;
  const AdapterTimings& timings_;
  VirtualClock& clock_;
  AdapterStats& stats_;
  const HardwareSemaphores& semaphores_;

  uint32_t setup_ = 0;
  bool setupWait_ = false;  // a setup write was made; the interface has not read idle since
  uint32_t command_ = 0;
  uint32_t writeData_ = 0;
  uint32_t registerAddress_ = 0;
  uint32_t readData_ = 0;
  uint64_t frameEnd_ = 0;
  bool readPending_ = false;  // a read frame's data arrive when it ends
  uint16_t pendingData_ = 0;

  std::map<uint8_t, uint16_t> latchedAddress_;  // by device, for the PHY
  std::map<std::pair<uint8_t, uint16_t>, uint16_t> registers_;
  std::size_t restartStep_ = 0;  // writes of the restart sequence received in order
  uint64_t restarts_ = 0;
  bool restartUnseen_ = false;  // a restart started whose completion no read has seen yet
  uint64_t readyAt_ = 0;
  uint64_t quietUntil_ = 0;
};

}  // namespace hlv::sim
