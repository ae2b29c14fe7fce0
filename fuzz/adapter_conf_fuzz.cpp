// The emulated adapter's "adapter.conf": parsed, and what parses formatted and parsed again to
// the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sim/adapter_conf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hlv::sim::AdapterConfig config;
  if (!hlv::sim::parseAdapterConf(std::string_view(reinterpret_cast<const char*>(data), size),
                                  config))
    return 0;
  const std::string text = hlv::sim::formatAdapterConf(config);
  hlv::sim::AdapterConfig again;
  if (!hlv::sim::parseAdapterConf(text, again) || hlv::sim::formatAdapterConf(again) != text)
    std::abort();
  return 0;
}
