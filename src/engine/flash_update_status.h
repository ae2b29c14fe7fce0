// Result codes of the flash update engine and of the adapter update interface. 0 is success;
// the numbers are printed to operators, become exit statuses and are recorded in trace files, so
// they never change. A status is a type of its own: it does not mix with other numbers, and the
// build refuses a call whose status is dropped. Where the number is wanted (an exit status, a
// printed code), statusNumber gives it; trace records take a status as its number directly.
#pragma once

#include <cstdint>

namespace hlv {

// The formatter misreads an attribute on an enumeration.
// clang-format off
enum class [[nodiscard]] FlashUpdateStatus : uint32_t {
  kStatusSuccess = 0,
  // The non-active block still describes a free area: it holds no complete earlier firmware.
  kStatusRollbackImpossible = 2,
  // A block not usable for an update (free-area start unprogrammed, or the magic word set);
  // also: legacy configuration undecidable, or the image cannot be parsed.
  kStatusNcbNotUsable = 3,
  kStatusVersionUnreadable = 14,
  kStatusFlashReadFailed = 15,
  kStatusFlashWriteFailed = 16,  // also: read-back differs
  kStatusFlashEraseFailed = 17,
  // The new block cannot be built (an in-block area would pass the block's end); for a
  // rollback: the flash sector is larger than a block.
  kStatusNcbBuildFailed = 20,
  kStatusFlashInitFailed = 21,
  kStatusOutOfMemory = 22,
  kStatusNcbInvalid = 24,  // CRC or structure
  kStatusNoValidActiveNcb = 25,
  kStatusComponentCrcMismatch = 26,
  // Image smaller than the flash layout or without a valid block; no valid active block.
  kStatusImageInvalid = 27,
  kStatusRegionsOverlap = 28,
  kStatusComponentOutsideBank = 29,
  kStatusFreeAreaTooSmall = 30,
  kStatusFreeAreaAcrossBanks = 31,
  // The part's erase sector does not divide a block (or the part cannot hold the layout).
  kStatusSectorSizeUnsuitable = 32,
  // Adapter update interface: firmware restart asked for an adapter that was not updated.
  kStatusAdapterNotUpdated = 39,
  // A rollback backup that cannot finish an interrupted rollback on this flash: its size, its
  // current block or its previous block outside the first sector differ from the flash, or the
  // flash's own previous block is still a rollback target.
  kStatusBackupMismatch = 40,
};
// clang-format on
using enum FlashUpdateStatus;

constexpr uint32_t statusNumber(FlashUpdateStatus status) {
  return static_cast<uint32_t>(status);
}

}  // namespace hlv
