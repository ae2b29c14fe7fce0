// Results of the flash layer's register sequences, and the kinds of flash part it knows.
#pragma once

#include <cstdint>

namespace hlv {

// The numbers appear in trace records. A dropped status is refused by the build.
// The formatter misreads an attribute on an enumeration.
// clang-format off
enum class [[nodiscard]] FlashStatus : uint32_t {
  FLASH_OK = 0,
  FLASH_ENGINE_TIMEOUT = 203,  // busy bit set for 21 reads in a row
  FLASH_STATUS_TIMEOUT = 204,  // part busy past its status timeout
  FLASH_UNKNOWN_PART = 205,    // no known part and no SFDP area
  FLASH_NO_PARAMETERS = 206,   // no parameters for the part type
  // The request lies outside what the part can do: an address or length past its end, an erase
  // address not at the start of its unit, or an erase the part has no command for.
  FLASH_INVALID_REQUEST = 207,
};
// clang-format on
using enum FlashStatus;

using FlashPartType = uint32_t;

// Types 0 to 14 have rows in the parameter table: 0 is the part that answers the short
// identification, 1 to 14 those of the JEDEC identification table.
inline constexpr FlashPartType kFlashPartShortId = 0;
inline constexpr FlashPartType kFlashPartSfdp = 90;  // described by its SFDP area
inline constexpr FlashPartType kFlashPartNoInterface = 100;
inline constexpr FlashPartType kFlashPartUnknown = 101;

}  // namespace hlv
