#include "app/image_selection.h"

#include <cstdio>

#include "app/image_selection_trace.h"
#include "app/status_meanings.h"
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
    char identity[64];
    std::snprintf(identity, sizeof identity, "VEN_%04X&DEV_%04X&SUBSYS_%04X%04X", key.vid, key.did,
                  key.sdid, key.svid);
    entry.statusReason = std::string("updatedata.xml has no board entry for ") + identity;
    return false;
  }
  trace::emit(tp::kBoardEntryChosen, entry.index, board->id);
  entry.boardEntry = board->id;
  entry.imageName = board->image;

  // A failed fetch also lets go of an image chosen before.
  ImageRefusal refusal;
  entry.selectedImage = store.getImage(board->image, &refusal);
  if (!entry.selectedImage) {
    trace::emit(tp::kNoImage, entry.index, board->image);
    if (refusal.unreadable) {
      entry.statusReason = "image file '" + board->image + "' cannot be read";
    } else {
      entry.statusReason = "image '" + board->image + "' is refused by the image check (status " +
                           std::to_string(refusal.status) + ": " +
                           statusMeaning(StatusKind::kEngine, refusal.status) + ")";
    }
    return false;
  }
  entry.macData.assign(board->mac.begin(), board->mac.end());
  entry.phyData.assign(board->phy.begin(), board->phy.end());
  return true;
}

}  // namespace hlv
