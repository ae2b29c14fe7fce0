// Handing the flash over from the active control block to a new one, so that at every moment
// one active, valid block describes intact components. Each attempt (two at most) erases the
// room the new block's components go to, fills it and writes the new block active; only then is
// the old block deactivated (retried once). A new block whose write fails is erased again
// before the next attempt, so the room is only ever erased while the old block is the one
// readers take; when that erase fails too the handover ends there, since the new block may still
// read as active over the room. The type-2 update and the type-1 transform are both handovers.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/halvern_ncb.h"
#include "trace/trace_point.h"

namespace hlv {

// The records a handover writes, taken from the caller's own table.
struct HandoverPoints {
  trace::Point<uint32_t, uint32_t> attemptFailed;     // attempt, status
  trace::Point<uint32_t> newNcbNotCleared;            // address of the new block
  trace::Point<uint32_t> failed;                      // status; the new block is not active
  trace::Point<uint32_t, uint32_t> deactivateFailed;  // try, status
  trace::Point<uint32_t> done;                        // address of the new block
};

// What the old block becomes once the new one is active.
enum class OldBlock : uint8_t {
  kKept,     // deactivated without a free area: a rollback may take it again
  kSpoiled,  // deactivated without a free area and with a CRC of 0: never taken again
};

// How filling the room went: a status other than 0 ends the attempt, or with `final` the whole
// handover (nothing written to the blocks).
struct FillOutcome {
  FlashUpdateStatus status = kStatusSuccess;
  bool final = false;
};

struct BlockHandover {
  HalvernNcb newNcb;
  uint32_t newAddress;
  HalvernNcb oldNcb;
  uint32_t oldAddress;
  uint32_t roomStart;
  uint32_t roomLength;
  // Writes the components into the room, `erased` bytes erased from `cursor` on, advancing the
  // cursor and recording their places in newNcb.
  std::function<FillOutcome(uint32_t& cursor, uint32_t erased)> fill;
  OldBlock old;
  HandoverPoints points;
};

// Runs the handover on the in-memory blocks, which end up as the flash holds them. The new
// block is written with no free area, the active state and its CRC. The status of the last
// failing step, or 0.
FlashUpdateStatus handOverActiveBlock(VoFlashControlInterface& flashCtrl,
                                      const BlockHandover& handover);

}  // namespace hlv
