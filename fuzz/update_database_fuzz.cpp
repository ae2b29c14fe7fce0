// The update database: the input as "updatedata.xml", through the loader the tool uses.
#include <cstdint>
#include <string_view>

#include "bundle/update_database.h"
#include "fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = hlv::fuzz::scratchDirectory() + "/updatedata.xml";
  hlv::fuzz::writeWholeFile(path, std::string_view(reinterpret_cast<const char*>(data), size));
  hlv::loadUpdateDatabase(path);
  return 0;
}
