// Result codes of the flash update engine and of the adapter update interface. 0 is success;
// the numbers are printed to operators and recorded in trace files, so they never change.
#pragma once

#include <cstdint>

namespace hlv {

using FlashUpdateStatus = uint32_t;

inline constexpr FlashUpdateStatus kStatusSuccess = 0;
// The non-active block still describes a free area: it holds no complete earlier firmware.
inline constexpr FlashUpdateStatus kStatusRollbackImpossible = 2;
// A block not usable for an update (free-area start unprogrammed, or the magic word set);
// also: legacy configuration undecidable, or the image cannot be parsed.
inline constexpr FlashUpdateStatus kStatusNcbNotUsable = 3;
inline constexpr FlashUpdateStatus kStatusVersionUnreadable = 14;
inline constexpr FlashUpdateStatus kStatusFlashReadFailed = 15;
inline constexpr FlashUpdateStatus kStatusFlashWriteFailed = 16;  // also: read-back differs
inline constexpr FlashUpdateStatus kStatusFlashEraseFailed = 17;
// The new block cannot be built (an in-block area would pass the block's end); for a
// rollback: the flash sector is larger than a block.
inline constexpr FlashUpdateStatus kStatusNcbBuildFailed = 20;
inline constexpr FlashUpdateStatus kStatusFlashInitFailed = 21;
inline constexpr FlashUpdateStatus kStatusOutOfMemory = 22;
inline constexpr FlashUpdateStatus kStatusNcbInvalid = 24;  // CRC or structure
inline constexpr FlashUpdateStatus kStatusNoValidActiveNcb = 25;
inline constexpr FlashUpdateStatus kStatusComponentCrcMismatch = 26;
// Image smaller than the flash layout or without a valid block; no valid active block.
inline constexpr FlashUpdateStatus kStatusImageInvalid = 27;
inline constexpr FlashUpdateStatus kStatusRegionsOverlap = 28;
inline constexpr FlashUpdateStatus kStatusComponentOutsideBank = 29;
inline constexpr FlashUpdateStatus kStatusFreeAreaTooSmall = 30;
inline constexpr FlashUpdateStatus kStatusFreeAreaAcrossBanks = 31;
// The part's erase sector does not divide a block (or the part cannot hold the layout).
inline constexpr FlashUpdateStatus kStatusSectorSizeUnsuitable = 32;
// Adapter update interface: firmware restart asked for an adapter that was not updated.
inline constexpr FlashUpdateStatus kStatusAdapterNotUpdated = 39;

}  // namespace hlv
