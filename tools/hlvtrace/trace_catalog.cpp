#include "tools/hlvtrace/trace_catalog.h"

#include "trace_catalog_tables.inc"

namespace hlv::trace {
namespace {

constexpr const TableInfo* kCatalog[] = {HLV_TRACE_CATALOG_TABLES};

}  // namespace

std::span<const TableInfo* const> traceCatalog() {
  return kCatalog;
}

FoundPoint findTracePoint(uint32_t component, uint32_t file, uint32_t point) {
  for (const TableInfo* table : kCatalog) {
    if (table->component != component || table->file != file) continue;
    for (const PointInfo& info : table->points) {
      if (info.point == point) return {table, &info};
    }
  }
  return {};
}

}  // namespace hlv::trace
