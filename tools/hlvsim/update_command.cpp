#include "tools/hlvsim/update_command.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/hlvsim/lab_update.h"

namespace hlv::sim::tool {

int updateFlash(LabAdapter& entry, VoApiFlashControl& flash, const Arguments& args) {
  if (args.empty()) {
    complain("update takes the image file, then --mac HEX and --phy HEX");
    return kExitUsage;
  }
  std::vector<uint8_t> macData;
  std::vector<uint8_t> phyData;
  for (std::size_t i = 1; i < args.size(); i += 2) {
    const std::string& option = args[i];
    if ((option != "--mac" && option != "--phy") || i + 1 >= args.size()) {
      complain("update: unknown or incomplete option '" + option + "'");
      return kExitUsage;
    }
    if (!decodeHexBytes(args[i + 1], option == "--mac" ? macData : phyData)) {
      complain("update: " + option + " takes hex digits, two per byte");
      return kExitUsage;
    }
  }
  std::ifstream in(args[0], std::ios::binary);
  if (!in.is_open()) {
    complain(args[0] + ": cannot open");
    return kExitFailed;
  }
  const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  if (in.bad()) {
    complain(args[0] + ": cannot read");
    return kExitFailed;
  }
  FlashUpdateStatus status = kStatusSuccess;
  std::string error;
  if (!updateLabAdapter(entry, flash, image, macData, phyData, status, error)) {
    complain(error);
    return kExitFailed;
  }
  std::printf("status %" PRIu32 "\n", status);
  if (entry.adapter->poweredOff())
    complain(entry.bdf + ": the adapter lost power during the update");
  return status == kStatusSuccess ? kExitOk : kExitFailed;
}

}  // namespace hlv::sim::tool
