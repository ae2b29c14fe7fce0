// Every trace table of the program, gathered from the sources' "<file>_trace.h" headers.
#pragma once

#include <cstdint>
#include <span>

#include "trace/trace_point.h"

namespace hlv::trace {

std::span<const TableInfo* const> traceCatalog();

struct FoundPoint {
  const TableInfo* table = nullptr;
  const PointInfo* point = nullptr;
};

// The declaration of (component, file, point), or nulls when no table declares it.
FoundPoint findTracePoint(uint32_t component, uint32_t file, uint32_t point);

}  // namespace hlv::trace
