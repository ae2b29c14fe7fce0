// Which of the two control blocks is which, decided in one place for every routine that reads
// or rewrites them.
//
// Readers (the adapter's own firmware loader among them) take NCB0 when it is active, else NCB1
// when it is active; with neither active there is no firmware to take. The block they take is
// the active one, and its bank holds the running firmware. The other block is the target of an
// update (its slot gets the new block, its bank the new firmware) and the previous block of a
// rollback (activated again, its bank left as it is).
#pragma once

#include <cstdint>
#include <optional>

#include "engine/flash_layout.h"
#include "platform/hlv_assert.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// One of the two block slots: its flash address, and the bank its components lie in when the
// flash has the type-2 layout (bank A for NCB0, bank B for NCB1).
class NcbSlot {
 public:
  static constexpr NcbSlot ncb0() { return NcbSlot(false); }
  static constexpr NcbSlot ncb1() { return NcbSlot(true); }
  static constexpr NcbSlot fromIsNcb1(bool isNcb1) { return NcbSlot(isNcb1); }
  // The slot of a block address (kNcb0Address or kNcb1Address; any other is a programming error).
  static constexpr NcbSlot atAddress(uint32_t address) {
    HLV_ASSERT(address == kNcb0Address || address == kNcb1Address);
    return NcbSlot(address == kNcb1Address);
  }

  constexpr bool isNcb1() const { return ncb1_; }
  // 0 or 1, as the trace records number the blocks.
  constexpr uint8_t index() const { return ncb1_ ? 1 : 0; }
  constexpr uint32_t address() const { return ncb1_ ? kNcb1Address : kNcb0Address; }
  constexpr AddressRange bank() const { return ncb1_ ? kBankB : kBankA; }
  constexpr NcbSlot other() const { return NcbSlot(!ncb1_); }
  // This slot's block of the pair.
  template <class View>
  constexpr View of(View ncb0, View ncb1) const {
    return ncb1_ ? ncb1 : ncb0;
  }

  constexpr bool operator==(const NcbSlot&) const = default;

 private:
  constexpr explicit NcbSlot(bool ncb1) : ncb1_(ncb1) {}
  bool ncb1_;
};

// The two blocks by role. View is HalvernNcb or ConstHalvernNcb.
template <class View>
struct BlockRoles {
  View active;  // the block readers take
  NcbSlot activeSlot;
  View other;  // the update's target, the rollback's previous block
  NcbSlot otherSlot;
};

// The roles of NCB0 and NCB1 (held in memory, in that order); none when neither is active.
template <class View>
std::optional<BlockRoles<View>> chooseBlocks(View ncb0, View ncb1) {
  const NcbSlot active = ncb0.active() ? NcbSlot::ncb0() : NcbSlot::ncb1();
  if (!active.of(ncb0, ncb1).active()) return std::nullopt;
  return BlockRoles<View>{active.of(ncb0, ncb1), active, active.other().of(ncb0, ncb1),
                          active.other()};
}

}  // namespace hlv
