#include "shared/status_table.h"

namespace hlv {
namespace {

#define HLV_STATUS_ROW_(scope, name, number, meaning) {StatusScope::scope, number, #name, meaning},

// clang-format off
constexpr StatusInfo kStatusTable[] = {
    HLV_EXIT_STATUSES(HLV_STATUS_ROW_)
    HLV_SESSION_STATUSES(HLV_STATUS_ROW_)
    HLV_UPDATE_STATUSES(HLV_STATUS_ROW_)
    HLV_ROLLBACK_STATUSES(HLV_STATUS_ROW_)
    HLV_BACKUP_STATUSES(HLV_STATUS_ROW_)
    HLV_ENGINE_STATUSES(HLV_STATUS_ROW_)
    HLV_UPDATE_INTERFACE_STATUSES(HLV_STATUS_ROW_)
    HLV_FIRMWARE_RELOAD_STATUSES(HLV_STATUS_ROW_)
    HLV_DRIVER_RESTART_STATUSES(HLV_STATUS_ROW_)
};
// clang-format on

#undef HLV_STATUS_ROW_

}  // namespace

std::span<const StatusInfo> statusTable() {
  return kStatusTable;
}

const StatusInfo* findStatus(uint32_t number, std::initializer_list<StatusScope> scopes) {
  for (const StatusScope scope : scopes) {
    for (const StatusInfo& row : kStatusTable) {
      if (row.scope == scope && row.number == number) return &row;
    }
  }
  return nullptr;
}

std::string statusMeaning(uint32_t number, std::initializer_list<StatusScope> scopes) {
  const StatusInfo* row = findStatus(number, scopes);
  return row != nullptr ? std::string(row->meaning) : "status " + std::to_string(number);
}

}  // namespace hlv
