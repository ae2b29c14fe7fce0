// Checking, reading and writing the control blocks.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "engine/block_roles.h"
#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// The stored CRC matches bytes 0x04 .. size-1. False when `size` is below 4 or beyond the
// block (nothing past the block is ever read).
bool checkNcbCrc(ConstHalvernNcb ncb);

// Every descriptor lies in its window: `size` at most the block; each in-block area (areaB
// without its slot bit) starts at 0 or inside 0x72..0x4000 and ends at 0 or inside
// 0x72..0x4000; each component and the free area starts at 0 or inside 0x8000..0x200000 and
// ends at 0 or inside 0x8000..0x200000.
bool checkNcbStructure(ConstHalvernNcb ncb);

// kStatusNcbNotUsable when the free-area start is unprogrammed or the magic word is set;
// kStatusNcbInvalid for a bad CRC or structure. The CRC and structure are checked only for an
// active block unless `force` is set.
FlashUpdateStatus validateNcb(ConstHalvernNcb ncb, bool force);

// Reads NCB0 and NCB1 from the flash into the two buffers and records both in the trace log.
// 0 or the read status.
FlashUpdateStatus readNcbs(VoFlashControlInterface& flashCtrl, HalvernNcb buffer0,
                           HalvernNcb buffer1);

// Reads both blocks from the flash into the two buffers and gives their roles (chooseBlocks):
// none when neither is active, when the active one fails validation (NCB1 is not consulted
// when NCB0 is active) or when the flash cannot be read.
std::optional<BlockRoles<HalvernNcb>> readBlockRoles(VoFlashControlInterface& flashCtrl,
                                                     HalvernNcb buffer0, HalvernNcb buffer1);
// The same, giving only the block a reader takes.
std::optional<HalvernNcb> readActiveNcb(VoFlashControlInterface& flashCtrl, HalvernNcb buffer0,
                                        HalvernNcb buffer1);

// The active block of an image: NCB0 when it is active and its CRC holds, else NCB1 under the
// same test, else none.
std::optional<ConstHalvernNcb> findActiveImageNcb(ConstHalvernNcb ncb0, ConstHalvernNcb ncb1);
// The same on an image buffer; none when the buffer does not hold both blocks.
std::optional<ConstHalvernNcb> findActiveImageNcb(std::span<const uint8_t> image);

// Writes a block to kNcb0Address or kNcb1Address so that a reader never takes it half-written,
// whatever a power cut leaves of the step it strikes (a program may clear only some of its bits,
// an erase may leave any part of its unit unchanged):
//   - a block that reads active is first deactivated in place (its state bits cleared), so that
//     no erase ever runs under an active state;
//   - a block that is to be deactivated, over one that holds a whole block whose bytes need only
//     bits cleared (NOR programming only clears bits), is rewritten in place without an erase:
//     its state byte first, then the other bytes that change (a retired block's CRC, say);
//   - otherwise: erase, program bytes 0x04.. and verify them, program the first four bytes with
//     the state bits left erased, then the state byte alone, and verify those.
// So the state is only ever set over a CRC and a body already written, and cleared before
// anything else of the block changes. kStatusSectorSizeUnsuitable when the part's sector does not
// divide a block or the part cannot hold the layout; kStatusFlashEraseFailed; the write and read
// statuses; kStatusFlashWriteFailed when the read-back differs; kStatusOutOfMemory.
FlashUpdateStatus writeNcb(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                           uint32_t ncbAddress);

// writeNcb for the first `length` bytes of the block only (a whole number of erase sectors, at
// most the block): they are erased and programmed in the same order, the first four bytes last.
// The flash behind them must already hold the block's bytes (the caller read the block from
// there). kStatusSectorSizeUnsuitable when `length` is not a whole number of sectors of a part
// that can hold the layout; otherwise the statuses of writeNcb.
FlashUpdateStatus writeNcbStart(VoFlashControlInterface& flashCtrl, ConstHalvernNcb ncb,
                                uint32_t ncbAddress, uint32_t length);

// Deactivates the block at kNcb0Address or kNcb1Address in place when it reads active: its
// state bits are programmed to 0b00, which only clears bits and leaves the CRC (which excludes
// them) and every other byte as they are. 0, or the write or read status, or
// kStatusFlashWriteFailed when the state reads back otherwise.
FlashUpdateStatus clearNcbStateInPlace(VoFlashControlInterface& flashCtrl, uint32_t ncbAddress);

// Records the block field by field in the trace log; `address` says which block it is.
void traceNcb(ConstHalvernNcb ncb, uint32_t address);

}  // namespace hlv
