// The companion programs' JSON: built as values of one JSON library, keys in the order they are
// set, and written out by it. Texts read from trace files, sysfs or file names are bytes, not
// necessarily UTF-8: written out, every malformed sequence becomes U+FFFD, so the output stays
// valid JSON whatever they hold.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace hlv::tool {

using Json = nlohmann::ordered_json;

// The value on one line, without white space between its tokens.
std::string dumpJson(const Json& value);

}  // namespace hlv::tool
