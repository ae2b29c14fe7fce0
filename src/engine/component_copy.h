// Writing a firmware component (the MAC firmware, the PHY firmware, the option ROM) into the
// flash at a write cursor and recording its new place and CRC in the block that will describe
// it. A component comes either from the flash itself (read from where the active block records
// it and checked against that block's CRC: the type-1 transform moves the running firmware into
// the free area this way) or from an update image (the type-2 update).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/flash_update_status.h"
#include "engine/update_image.h"
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
// The three in that order; the status of the first that fails.
FlashUpdateStatus copyAllFW(VoFlashControlInterface& flashCtrl, ConstHalvernNcb activeNcb,
                            HalvernNcb nonactiveNcb, uint32_t& startAddress);

// The same from an update image whose components all lie in it (parseUpdateData checked that):
// the bytes are written as the image holds them, with the CRC its block records (checked before
// the update starts), and nothing is read from the flash but the read-back. The image's
// imageVersion and imageTag are not carried: the new block is built with them.
FlashUpdateStatus copyMacFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateImage& image);
FlashUpdateStatus copyPhyFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateImage& image);
FlashUpdateStatus copyRomFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateImage& image);
FlashUpdateStatus copyAllFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateImage& image);

}  // namespace hlv
