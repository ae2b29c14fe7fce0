#include "engine/flash_state.h"

#include <span>

#include "engine/byte_buffer.h"
#include "engine/firmware_version.h"
#include "engine/flash_access.h"
#include "engine/flash_state_trace.h"
#include "engine/ncb.h"
#include "engine/ncb_layout.h"
#include "engine/rollback.h"
#include "shared/crc16.h"

namespace hlv {
namespace tp = trace_points::flash_state;
namespace {

// Every checksummed component of the block matches its recorded CRC on the flash: false for a
// mismatch or a component past the part's end, none when a read failed.
std::optional<bool> componentsIntact(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb) {
  bool intact = true;
  for (const NcbCrcCoverage& coverage : ncbCrcCoverage(ncb)) {
    uint16_t computed = 0;
    const NcbComponent parts[] = {coverage.first, coverage.second};
    for (NcbComponent part : std::span(parts).first(coverage.twoParts() ? 2 : 1)) {
      const NcbRegion region = ncb.component(part);
      if (uint64_t{region.offset} + region.size > flashCtrl.flashSize) {
        trace::emit(tp::kComponentUnreadable, static_cast<uint8_t>(part), kStatusFlashReadFailed);
        return false;
      }
      const ByteBuffer bytes = ByteBuffer::allocate(region.size);
      if (!bytes.ok()) return std::nullopt;
      const FlashUpdateStatus status =
          readFlash(flashCtrl, region.offset, bytes.data(), region.size);
      if (status != kStatusSuccess) {
        trace::emit(tp::kComponentUnreadable, static_cast<uint8_t>(part), status);
        return std::nullopt;
      }
      computed = crc16(bytes.span(), computed);
    }
    trace::emit(tp::kComponentCrc, static_cast<uint8_t>(coverage.first), computed,
                coverage.recorded);
    if (computed != coverage.recorded) intact = false;
  }
  return intact;
}

}  // namespace

FlashUpdateStatus readFlashState(VoFlashControlInterface& flashCtrl, FlashState& state) {
  trace::emit(tp::kRead);
  state = {};
  // What a rollback would do is answered by the rollback's own checks, which write nothing.
  RollbackPlan plan;
  state.rollbackStatus = statusNumber(planRollback(flashCtrl, {}, plan));
  trace::emit(tp::kRollback, state.rollbackStatus);
  if (state.rollbackStatus == 0) state.previous = plan.previous;

  const ByteBuffer ncbs = ByteBuffer::allocate(2 * kNcbBlockSize);
  if (!ncbs.ok() || !flashCtrl.init()) {
    trace::emit(tp::kNotReady);
    return ncbs.ok() ? kStatusFlashInitFailed : kStatusOutOfMemory;
  }
  const HalvernNcb ncb0(ncbs.data());
  const HalvernNcb ncb1(ncbs.data() + kNcbBlockSize);
  const std::optional<HalvernNcb> active = readActiveNcb(flashCtrl, ncb0, ncb1);
  if (!active) {
    trace::emit(tp::kNoActive);
    return kStatusNoValidActiveNcb;
  }
  const bool isNcb1 = active->data() == ncb1.data();
  state.activeNcb = isNcb1 ? 1 : 0;
  state.layout = isType2Layout(*active, isNcb1) ? 2 : 1;
  trace::emit(tp::kActive, *state.activeNcb, *state.layout);
  FirmwareVersion running;
  if (const FlashUpdateStatus status = readFirmwareVersion(flashCtrl, *active, running);
      status == kStatusSuccess) {
    state.running = running;
  } else {
    trace::emit(tp::kVersionUnreadable, status);
  }
  state.componentsOk = componentsIntact(flashCtrl, *active);
  return kStatusSuccess;
}

}  // namespace hlv
