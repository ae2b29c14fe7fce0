#include "engine/firmware_update.h"

#include <optional>

#include "engine/block_roles.h"
#include "engine/byte_buffer.h"
#include "engine/firmware_update_trace.h"
#include "engine/firmware_version.h"
#include "engine/flash_access.h"
#include "engine/legacy_flags.h"
#include "engine/ncb.h"
#include "engine/ncb_layout.h"
#include "engine/new_ncb.h"
#include "engine/type1_transform.h"
#include "engine/type2_update.h"
#include "engine/update_data.h"
#include "engine/update_image.h"

namespace hlv {
namespace tp = trace_points::firmware_update;

FlashUpdateStatus checkType2Layout(ConstHalvernNcb ncb0, ConstHalvernNcb ncb1) {
  const std::optional<BlockRoles<ConstHalvernNcb>> roles = chooseBlocks(ncb0, ncb1);
  if (!roles) {
    trace::emit(tp::kNoActiveNcb);
    return kStatusNoValidActiveNcb;
  }
  const NcbSlot slot = roles->activeSlot;
  if (!imagesDisjoint(roles->active, false)) {
    trace::emit(tp::kLayoutOverlap, slot.index());
    return kStatusRegionsOverlap;
  }
  // The update erases the other bank: nothing the block readers take may lie there.
  if (!componentsInOwnBank(roles->active, slot.isNcb1())) {
    trace::emit(tp::kLayoutOutsideOwnBank, slot.index());
    return kStatusComponentOutsideBank;
  }
  // A second active block (NCB1 beside NCB0, left by an interrupted update, transform or
  // rollback) is the one the update replaces: readers never take it, and nothing of it is read.
  return kStatusSuccess;
}

FlashUpdateStatus updateFirmware(VoFlashControlInterface& flashCtrl,
                                 const FlashUpdateInput& input) {
  trace::emit(tp::kStart, input.vendorId, input.deviceId, input.subsystemVendorId,
              input.subsystemDeviceId);
  trace::emit(tp::kBlobs, static_cast<uint64_t>(input.blobD.size()),
              static_cast<uint64_t>(input.blobE.size()), static_cast<uint64_t>(input.image.size()));
  if (input.image.size() < kFlashLayoutSize) {
    trace::emit(tp::kImageTooSmall, static_cast<uint64_t>(input.image.size()));
    return kStatusImageInvalid;
  }
  const std::span<const uint8_t> image = input.image.first(kFlashLayoutSize);
  const ConstHalvernNcb imageNcb0(image.data() + kNcb0Address);
  const ConstHalvernNcb imageNcb1(image.data() + kNcb1Address);
  traceNcb(imageNcb0, kNcb0Address);
  traceNcb(imageNcb1, kNcb1Address);
  const FlashUpdateStatus image0 = validateNcb(imageNcb0, false);
  const FlashUpdateStatus image1 = validateNcb(imageNcb1, false);
  if (image0 != kStatusSuccess && image1 != kStatusSuccess) {
    trace::emit(tp::kImageNcbsInvalid, image0, image1);
    return kStatusNcbInvalid;
  }

  if (!flashCtrl.init()) {
    trace::emit(tp::kInitFailed);
    return kStatusFlashInitFailed;
  }
  const ByteBuffer ncbs = ByteBuffer::allocate(2 * kNcbBlockSize);
  if (!ncbs.ok()) {
    trace::emit(tp::kNoMemory);
    return kStatusOutOfMemory;
  }
  const HalvernNcb ncb0(ncbs.data());
  const HalvernNcb ncb1(ncbs.data() + kNcbBlockSize);
  const std::optional<BlockRoles<HalvernNcb>> roles = readBlockRoles(flashCtrl, ncb0, ncb1);
  if (!roles) {
    trace::emit(tp::kNoActiveNcb);
    return kStatusNoValidActiveNcb;
  }
  const HalvernNcb active = roles->active;

  // The image is parsed here, once: every check and copy below takes this view of it.
  const std::optional<UpdateImage> parsed = UpdateImage::parse(image);
  if (!parsed) {
    trace::emit(tp::kImageVersionFailed, kStatusImageInvalid);
    return kStatusImageInvalid;
  }
  FirmwareVersion imageVersion;
  FlashUpdateStatus status = getImageVersion(*parsed, imageVersion);
  if (status != kStatusSuccess) {
    trace::emit(tp::kImageVersionFailed, status);
    return status;
  }
  FirmwareVersion currentVersion;
  status = readFirmwareVersion(flashCtrl, active, currentVersion);
  if (status != kStatusSuccess) {
    trace::emit(tp::kCurrentVersionFailed, status);
    return status;
  }
  trace::emit(tp::kVersions, imageVersion.major, imageVersion.minor, imageVersion.build,
              currentVersion.major, currentVersion.minor, currentVersion.build);

  UpdateData data;
  if (input.subsystemVendorId == kLegacySubsystemVendorId &&
      input.subsystemDeviceId == kLegacySubsystemDeviceId) {
    if (!determineLegacyFlags(active, currentVersion, data.areaDFlag, data.areaEFlag)) {
      trace::emit(tp::kLegacyFlagsUndecided);
      return kStatusNcbNotUsable;
    }
    data.areasOwned = true;
  }
  const ConfigBlobs blobs{input.blobD, input.blobE};
  status = checkConfigBlobs(blobs, data.areasOwned);
  if (status != kStatusSuccess) {
    trace::emit(tp::kBlobsRefused, status);
    return status;
  }
  // The image's components are checked as closely as the flash's: nothing is written that
  // would not be taken as valid once written.
  status = checkImageComponents(*parsed, flashCtrl.pageSize);
  if (status != kStatusSuccess) {
    trace::emit(tp::kImageComponentsRefused, status);
    return status;
  }
  if (!parseUpdateData(*parsed, blobs, data)) {
    trace::emit(tp::kImageNotParsed);
    return kStatusNcbNotUsable;
  }
  trace::emit(tp::kFlashNcbs, static_cast<uint8_t>(ncb0.state()), ncb0.freeOffset(),
              ncb0.freeSize(), static_cast<uint8_t>(ncb1.state()), ncb1.freeOffset(),
              ncb1.freeSize());
  if (!partHoldsLayout(flashCtrl) || kNcbBlockSize % flashCtrl.sectorSize != 0) {
    trace::emit(tp::kPartUnsuitable, flashCtrl.sectorSize, flashCtrl.flashSize);
    return kStatusSectorSizeUnsuitable;
  }

  // The new block must fit before anything is written: the transform would otherwise move the
  // firmware first. Its areas come from the block that is active when the type-2 update starts:
  // the block readers take now, or the block the transform leaves active. Only that block is
  // built from; another active block is replaced and may hold anything.
  const bool type2 = isType2Layout(active, roles->activeSlot.isNcb1());
  const ByteBuffer trial = ByteBuffer::allocate(2 * kNcbBlockSize);
  if (!trial.ok()) {
    trace::emit(tp::kNoMemory);
    return kStatusOutOfMemory;
  }
  ConstHalvernNcb source = active;
  NcbSlot sourceSlot = roles->activeSlot;
  if (!type2) {
    const HalvernNcb target(trial.data() + kNcbBlockSize);
    if (!type1TransformTarget(ncb0, ncb1, target, sourceSlot)) {
      trace::emit(tp::kNoActiveNcb);
      return kStatusNoValidActiveNcb;
    }
    source = target;
  }
  if (!buildNewNcb(source, HalvernNcb(trial.data()), sourceSlot.other().address(), data)) {
    trace::emit(tp::kNewNcbWouldNotFit, uint32_t{sourceSlot.index()});
    return kStatusNcbBuildFailed;
  }

  if (type2) {
    status = checkType2Layout(ncb0, ncb1);
  } else {
    trace::emit(tp::kTransforming);
    status = type1TransformToType2(ncb0, ncb1, flashCtrl);
  }
  if (status == kStatusSuccess) {
    status = type2PerformUpdate(flashCtrl, ncb0, ncb1, data);
    traceNcb(ncb0, kNcb0Address);
    traceNcb(ncb1, kNcb1Address);
  }
  trace::emit(tp::kResult, status);
  return status;
}

}  // namespace hlv
