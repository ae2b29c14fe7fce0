// The lab's "adapter.conf": `key = value` lines describing one emulated adapter, with `#`
// comments and blank lines. Keys:
//   flash            JEDEC identification, six hex digits (eight for a four-byte one), or 651F
//   capacity         bytes, for a part the identification table does not know
//   sfdp             yes, no, 1.0 or 1.6 (yes means revision 1.6)
//   sfdp_revision    1.0 or 1.6
//   sfdp_volatile_status   yes/no: status register written after opcode 0x50
//   protected        yes/no: protection bits set at power-on
//   power_cut_after  N: power lost after the N-th program or erase command of a run
//   power_cut_torn   yes/no: the cut strikes during that command, which is left partly done
//   seed             N: the seed the partial result is drawn from
//   torn_erase       bytes or bits: an erase cut short garbles whole bytes, or single bits
//   flash_fault_at   N: the N-th program or erase command of a run goes wrong (0: none)
//   flash_fault      ignored, wrong or stuck: how (default ignored)
//   kill_at_us       N: the process is killed (SIGKILL) when the run's virtual clock reaches N
//   engine_stuck     yes/no: the command engine stays busy
//   part_stuck       yes/no: the flash part stays busy
//   engine_busy_us   N: microseconds a started word of the command engine stays busy
//   engine_jitter_us N: up to this many microseconds more per word, drawn from engine_seed
//   engine_seed      N: the seed of that jitter
// A ready-bit part (no status write) cannot be protected: nothing could unlock it.
//   firmware_reset_latency_us   N: microseconds from a global reset's start until 0x18, 0x388
//                    and 0x704 show it
//   firmware_reset_jitter_us    N: up to this many microseconds more per reset, drawn from
//                    firmware_reset_seed
//   firmware_reset_seed          N: the seed of that jitter
//   firmware_mdio_every_us       N: the running firmware uses the MDIO bus (holding 0x3A0) about
//                    this often (0: never), at moments drawn from firmware_mdio_seed
//   firmware_mdio_seed           N: the seed of those moments
//   firmware         1, 2 or none: the firmware interface the running firmware offers
//   firmware_stuck   yes/no: the firmware never answers after a reset
//   phy              yes/no: a PHY answers on the MDIO interface
//   phy_address      0..31: where it answers
//   phy_stuck        yes/no: the PHY never becomes ready after a restart
//   chip_revision    the chip revision word
//   fuse_status      the fuse status word
//   fuse_digest      64 hex digits: the key digest fuses, the 32 bytes in memory order
//   mdio_semaphore, fuse_semaphore   free/held: held means the firmware takes it back at once
//   signal           int, term, hup or quit: the signal the test hooks below raise (default int)
//   interrupt_at_grant   N: the signal raised right after the N-th semaphore grant to the program
//   signal_at_command    N: the signal raised right after the part received its N-th SPI
//                    command of the run, reads included (the stats file's "commands")
//   signal_at_us     N: the signal raised when the run's virtual clock reaches N microseconds
//   map_refused      no, eperm or eacces: the kernel refuses to map the function's registers
// Unknown keys and bad values are errors.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "shared/result.h"
#include "sim/adapter_config.h"

namespace hlv::sim {

// Fills config from the text (keys not given keep their values). A failure names the line.
Result<> parseAdapterConf(std::string_view text, AdapterConfig& config);

// The text that parseAdapterConf reads back as this configuration (keys with default values
// left out, except flash).
std::string formatAdapterConf(const AdapterConfig& config);

// The keys, as one table reads and writes them: each with a value other than its default, and
// whether formatAdapterConf writes it (sfdp_revision is written within sfdp).
struct AdapterConfKey {
  std::string_view name;
  std::string_view example;
  bool written;
};
std::vector<AdapterConfKey> adapterConfKeys();

}  // namespace hlv::sim
