// The engine's single entry for writing a new firmware image into an adapter's flash.
#pragma once

#include <cstdint>
#include <span>

#include "engine/flash_update_status.h"
#include "flashctl/voflashcontrolinterface.h"
#include "shared/halvern_ncb.h"

namespace hlv {

// Filled by the caller.
struct FlashUpdateInput {
  // The update image: a whole flash image (two blocks at 0x0 and 0x4000, the components behind
  // them). Only its first 0x200000 bytes are used; a shorter one is refused.
  std::span<const uint8_t> image;
  uint16_t vendorId = 0;  // the adapter's PCI IDs; vendor and device only go to the trace log
  uint16_t deviceId = 0;
  uint16_t subsystemDeviceId = 0;
  uint16_t subsystemVendorId = 0;
  std::span<const uint8_t> blobD;  // the board's configuration for the new block's areaD
  std::span<const uint8_t> blobE;  // and for its areaE
};

// Boards whose new block must carry the legacy configuration flags over.
inline constexpr uint16_t kLegacySubsystemVendorId = 0x1E9C;
inline constexpr uint16_t kLegacySubsystemDeviceId = 0x0001;

// Checks the image and the flash, brings a flash in the type-1 layout into the type-2 layout,
// and writes the image's firmware into the bank the active block does not use.
//
// Refused before anything is written: kStatusImageInvalid (image shorter than the layout, or
// without an active block), kStatusNcbInvalid (both image blocks invalid; the image's active
// block with a bad structure or a component outside the image), kStatusFlashInitFailed,
// kStatusOutOfMemory, kStatusNoValidActiveNcb, the version readout statuses,
// kStatusNcbNotUsable (legacy flags undecidable, blobs unusable, image not parsable),
// kStatusNcbBuildFailed (a blob too long for an area, or areas that do not fit a new block),
// kStatusComponentCrcMismatch (an image
// component does not match its CRC), kStatusFreeAreaTooSmall (the image's components do not
// fit a bank), kStatusSectorSizeUnsuitable (a part that cannot hold the layout or whose sector
// does not divide a block), kStatusRegionsOverlap and kStatusComponentOutsideBank (damaged
// type-2 layout). Then the statuses of the transform and of the type-2 update.
FlashUpdateStatus updateFirmware(VoFlashControlInterface& flashCtrl, const FlashUpdateInput& input);

// The type-2 layout of the flash can be updated without risk to the firmware readers take:
// the block readers take (NCB0 when active, else NCB1) has no overlapping components
// (kStatusRegionsOverlap) and every component of it lies wholly in its own bank
// (kStatusComponentOutsideBank): the other bank is erased by the update. An NCB1 that is active
// beside an active NCB0 is not looked at: the update replaces it and never reads it (an
// interrupted update, transform or rollback leaves such a block behind, possibly still
// describing the other bank or a free area).
FlashUpdateStatus checkType2Layout(ConstHalvernNcb ncb0, ConstHalvernNcb ncb1);

}  // namespace hlv
