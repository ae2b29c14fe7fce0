// When the kernel refuses to map adapters' registers, the adapters only show as "Not available"
// on the console; the operator is told on standard error why and what can be done, once per
// cause, with the adapters it concerns.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/mapping_refusal.h"

namespace hlv {

struct AdapterEntry;

// Prints one explanation for each cause among the entries whose registers could not be mapped.
void explainMappingRefusals(const std::vector<AdapterEntry>& entries, std::FILE* out = stderr);

// The explanation of one refusal for the adapters named (each "enp1s0 (0000:01:00.0)").
std::string mappingRefusalText(const platform::MappingRefusal& refusal,
                               const std::string& adapters);

}  // namespace hlv
