// The trace decoder: the input as a trace file, decoded and written as text and as JSON.
#include <cstdint>
#include <span>

#include "tools/hlvtrace/trace_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const hlv::trace::DecodeResult result = hlv::trace::decodeTrace(std::span(data, size));
  for (const hlv::trace::DecodedRecord& record : result.records)
    hlv::trace::formatRecordJson(record);
  return 0;
}
