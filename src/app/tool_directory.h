// The directory the running program lives in: its bundle, its logs and its backups are there.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace hlv {

// The directory of the running executable, ending in "/", read from the platform's
// "/proc/<pid>/exe" link; empty on failure. A link without any "/" is reported on the console
// ("Couldn't convert file path "); other failures print nothing.
std::string findToolDirectory();

// The whole text of a symbolic link, read into a buffer of bufferSize bytes. None when the link
// cannot be read, and none when the text fills the buffer, since it may then have been cut
// short: a shortened path would name some other directory.
std::optional<std::string> readLinkText(const std::string& linkPath, std::size_t bufferSize);

}  // namespace hlv
