// A picture of a flash (`hlvimage map FILE --svg OUT`): both control blocks with their state,
// validity and firmware version, which one a flash reader takes, and both banks with the
// components each block records (name, offset, size, CRC state) and its free area. Components
// lying outside both banks, and absent ones, are listed below the banks.
#pragma once

#include <string>

#include "tools/hlvimage/image_report.h"

namespace hlv::image {

// A standalone SVG document. `title` (for example the file's name) is shown at the top; any
// bytes are escaped. The same report gives the same document, byte for byte.
std::string renderFlashMapSvg(const ImageReport& report, const std::string& title);

}  // namespace hlv::image
