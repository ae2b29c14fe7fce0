// Result codes of the flash update engine and of the adapter update interface. 0 is success;
// the numbers are printed to operators, become exit statuses and are recorded in trace files, so
// they never change: they, their names and their meanings are rows of the status table
// (shared/status_table.h). A status is a type of its own: it does not mix with other numbers, and
// the build refuses a call whose status is dropped. Where the number is wanted (an exit status,
// a printed code), statusNumber gives it; trace records take a status as its number directly.
#pragma once

#include <cstdint>

#include "shared/status_table.h"

namespace hlv {

#define HLV_STATUS_ENUMERATOR_(scope, name, number, meaning) name = number,
// The formatter misreads an attribute on an enumeration.
// clang-format off
enum class [[nodiscard]] FlashUpdateStatus : uint32_t {
  HLV_ENGINE_STATUSES(HLV_STATUS_ENUMERATOR_)
};
// clang-format on
#undef HLV_STATUS_ENUMERATOR_
using enum FlashUpdateStatus;

constexpr uint32_t statusNumber(FlashUpdateStatus status) {
  return static_cast<uint32_t>(status);
}

}  // namespace hlv
