// The description files of `hlvimage build`: `key = value` lines, `#` starts a comment. A
// description names only what differs from the defaults of ImageSpec; later lines win.
// Keys of one control block apply to both blocks, or to one with the prefix "ncb0." or
// "ncb1.". doc/flash-images.md lists every key.
#pragma once

#include <string>
#include <string_view>

#include "shared/result.h"
#include "tools/hlvimage/image_spec.h"

namespace hlv::image {

// Applies the description to `spec`; a failure names the first bad line.
Result<> parseImageDescription(std::string_view text, ImageSpec& spec);

}  // namespace hlv::image
