#include "tools/common/json_output.h"

namespace hlv::tool {

std::string dumpJson(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace hlv::tool
