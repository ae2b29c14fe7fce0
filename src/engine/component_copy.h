// Moving a firmware component that is already in the flash to a new place: read it from where
// the active block records it, check it against the block's CRC, program it at a write cursor,
// and record the new place in the non-active block. The type-1 transform uses these to move
// the running firmware into the free area.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// Each routine writes the component's parts from `startAddress` on, each part starting on a
// program page, and on success advances `startAddress` past the last part (rounded up to a
// page) and fills the component's fields of `nonactiveNcb`. On any failure `nonactiveNcb` and
// `startAddress` stay as they were; for a CRC mismatch nothing is written.
// Every part is read back after programming and compared with what was read from the old place.
// Statuses: 0, kStatusOutOfMemory, the read and write statuses, kStatusComponentCrcMismatch,
// and kStatusFlashWriteFailed for a read-back that differs or a placement that would pass the
// flash layout.

// One part of a component and the bytes that go into the flash for it.
struct ComponentPart {
  NcbComponent component;
  std::span<const uint8_t> bytes;
};

// Writes the parts one behind the other from `startAddress` on, each starting on a program
// page, reads every part back, and only then records each part's place and size in
// `targetNcb` (an absent part is recorded at its place with size 0) and advances
// `startAddress` past the last part, rounded up to a page. On any failure `targetNcb` and
// `startAddress` stay as they were. Statuses: 0, the write and read statuses, and
// kStatusFlashWriteFailed for a read-back that differs or a placement that would pass the flash
// layout. Used for components copied within the flash and for components from an update image.
FlashUpdateStatus placeComponentParts(std::string_view name, VoFlashControlInterface& flashCtrl,
                                      HalvernNcb targetNcb, uint32_t& startAddress,
                                      std::span<const ComponentPart> parts);

// MAC parts 1 and 2 with macCrc; also carries imageVersion and imageTag over (the state bits
// of the non-active block stay).
FlashUpdateStatus copyMacFW(VoFlashControlInterface& flashCtrl, ConstHalvernNcb activeNcb,
                            HalvernNcb nonactiveNcb, uint32_t& startAddress);
// PHY parts 1 and 2 with phyCrc.
FlashUpdateStatus copyPhyFW(VoFlashControlInterface& flashCtrl, ConstHalvernNcb activeNcb,
                            HalvernNcb nonactiveNcb, uint32_t& startAddress);
// The option ROM with romCrc.
FlashUpdateStatus copyPciRom(VoFlashControlInterface& flashCtrl, ConstHalvernNcb activeNcb,
                             HalvernNcb nonactiveNcb, uint32_t& startAddress);

}  // namespace hlv
