#include "app/image_selection.h"

#include "app/image_selection_trace.h"
#include "device/pci_discovery.h"

namespace hlv {
namespace tp = trace_points::image_selection;

bool selectImage(AdapterEntry& entry, const UpdateDatabase& database, ImageStore& store,
                 SystemInfoCache& cache) {
  if (entry.status != AdapterStatus::Available) {
    trace::emit(tp::kAlreadySettled, entry.index, static_cast<uint32_t>(entry.status));
    return true;
  }

  AdapterKey key;
  if (entry.adapter) {
    key = {entry.adapter->vendorId, entry.adapter->deviceId, entry.adapter->subsystemDeviceId,
           entry.adapter->subsystemVendorId};
  }
  const BdpEntry* board = entry.adapter ? findBdpEntry(database, key, cache) : nullptr;
  if (board == nullptr) {
    trace::emit(tp::kNoBoardEntry, entry.index, key.vid, key.did, key.sdid, key.svid);
    return false;
  }
  trace::emit(tp::kBoardEntryChosen, entry.index, board->id);

  // A failed fetch also lets go of an image chosen before.
  entry.selectedImage = store.getImage(board->image);
  if (!entry.selectedImage) {
    trace::emit(tp::kNoImage, entry.index, board->image);
    return false;
  }
  entry.macData.assign(board->mac.begin(), board->mac.end());
  entry.phyData.assign(board->phy.begin(), board->phy.end());
  return true;
}

}  // namespace hlv
