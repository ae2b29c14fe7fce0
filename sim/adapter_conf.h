// The lab's "adapter.conf": `key = value` lines describing one emulated adapter, with `#`
// comments and blank lines. Keys:
//   flash            JEDEC identification, six hex digits (eight for a four-byte one), or 651F
//   capacity         bytes, for a part the identification table does not know
//   sfdp             yes, no, 1.0 or 1.6 (yes means revision 1.6)
//   sfdp_revision    1.0 or 1.6
//   sfdp_volatile_status   yes/no: status register written after opcode 0x50
//   protected        yes/no: protection bits set at power-on
//   power_cut_after  N: power lost after the N-th program or erase command of a run
//   engine_stuck     yes/no: the command engine stays busy
//   part_stuck       yes/no: the flash part stays busy
//   engine_busy_us   N: microseconds a started word of the command engine stays busy
//   engine_jitter_us N: up to this many microseconds more per word, drawn from engine_seed
//   engine_seed      N: the seed of that jitter
// A ready-bit part (no status write) cannot be protected: nothing could unlock it.
// Unknown keys and bad values are errors.
#pragma once

#include <string>
#include <string_view>

#include "sim/adapter_config.h"

namespace hlv::sim {

// Fills config from the text (keys not given keep their values). On failure returns false with
// a message naming the line.
bool parseAdapterConf(std::string_view text, AdapterConfig& config, std::string& error);

// The text that parseAdapterConf reads back as this configuration (keys with default values
// left out, except flash).
std::string formatAdapterConf(const AdapterConfig& config);

}  // namespace hlv::sim
