// The type-1 to type-2 transform: the running firmware is moved into the free area its active
// block describes, so that afterwards the active NCB0 describes only bank A (or the active NCB1
// only bank B) and no free area is left; the other bank is then free for a type-2 update.
//
// Which block is the source (SRC, whose components and free area are used and which is
// deactivated at the end) and which the target (DST, the slot paired with the bank that holds
// the free area) depends on which blocks are active and where the free area lies:
//
//   NCB0        NCB1        free area  preparation                               SRC   DST
//   active      active      bank B     none (NCB1's own contents become DST)     NCB0  NCB1
//   active      not active  bank B     NCB1 := NCB0 deactivated, in memory       NCB0  NCB1
//   active      active      bank A     none (NCB1's own free area is used)       NCB1  NCB0
//   active      not active  bank A     NCB1 := NCB0, written active to the flash NCB1  NCB0
//   not active  active      bank A     NCB0 := NCB1 deactivated, in memory       NCB1  NCB0
//   not active  active      bank B     NCB0 := NCB1, written active to the flash NCB0  NCB1
//
// In the rows with a flash write the active block sits in the slot that must be rebuilt, so it
// is duplicated first and the duplicate keeps a valid active block on the flash while the slot
// is rewritten. Both-active rows are what an interrupted transform leaves behind.
#pragma once

#include <cstdint>

#include "engine/block_roles.h"
#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// Whether the transform can be done, judged on the block that will really be the source and
// before anything is written: a block taken over as source or target without being the one
// readers take must validate as if active (its validateNcb status); the source's components
// and free area must not overlap each other, and the free area must not overlap the components
// of the block readers take now (kStatusRegionsOverlap); the free area must lie inside the
// target's bank (kStatusFreeAreaAcrossBanks); the components must fit the whole erase sectors
// inside the free area, each part starting on a program page (kStatusFreeAreaTooSmall).
// kStatusNoValidActiveNcb when neither block is active.
FlashUpdateStatus type1CheckTransformRequirements(VoFlashControlInterface& flashCtrl,
                                                  ConstHalvernNcb ncb0, ConstHalvernNcb ncb1);

// The block the transform leaves active, as the transform makes it before it relocates the
// components into it: the target block as it stands, or the copy of the source block it is
// built from. Its in-block areas are those a new block is built from after the transform.
// Copies it into `target` and gives its slot; false when neither block is active.
bool type1TransformTarget(ConstHalvernNcb ncb0, ConstHalvernNcb ncb1, HalvernNcb target,
                          NcbSlot& targetSlot);

// Performs the transform on the in-memory copies of the blocks at 0x0 and 0x4000, which are
// changed in place. The free area's whole sectors are erased and the components copied there
// (each checked against its CRC when read and read back after programming) in up to two
// attempts; a target block whose write fails is erased again before the next attempt. Then the
// source is deactivated with a CRC of 0, retried once.
// The requirement statuses; the statuses of the copies, of the erase and of the block writes.
FlashUpdateStatus type1TransformToType2(HalvernNcb ncb0, HalvernNcb ncb1,
                                        VoFlashControlInterface& flashCtrl);

}  // namespace hlv
