// The update database "updatedata.xml": which firmware image and which board configuration bytes
// belong to which adapter.
//
//   <bdpDatabase>
//     <version>...</version>
//     <bdp id="..."> <hwids><id vid="1E9C" did="20C3" sdid="0001" svid="1E9C"/></hwids>
//                    <mac>A1B2C3</mac> <phy>...</phy> <image>file.bin</image> </bdp>
//     <alias id="..."> <hwids>...</hwids> <systemid>board name</systemid> <bdpid>...</bdpid>
//     </alias>
//   </bdpDatabase>
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bundle/database_entry.h"

namespace tinyxml2 {
class XMLElement;
}

namespace hlv {

struct UpdateDatabase {
  std::vector<BdpEntry> bdps;       // in document order
  std::vector<AliasEntry> aliases;  // in document order
};

// Loads the database. Null when the file is missing, unreadable or not well-formed, or when an
// entry is malformed (the file is then not used at all). A file whose root element is not
// "bdpDatabase" gives an empty database. Never throws.
std::unique_ptr<UpdateDatabase> loadUpdateDatabase(const std::string& path);

// The element walkers below throw std::invalid_argument for a bad hexadecimal text and
// std::logic_error for an element without the text it needs; loadUpdateDatabase catches both.

// One HwId per child element of "hwids", whatever its name.
std::vector<HwId> parseHwIds(const tinyxml2::XMLElement& hwids);
BdpEntry parseBdp(const tinyxml2::XMLElement& bdp);
AliasEntry parseAlias(const tinyxml2::XMLElement& alias);

// "A1b2" gives the bytes A1 B2: pairs of hexadecimal digits, nothing else, no white space.
std::vector<uint8_t> decodeHex(const std::string& text);

}  // namespace hlv
