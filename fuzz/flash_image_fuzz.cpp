// A flash image as the engine reads it: the bytes as a file (the report hlvimage gives: both
// blocks, their CRC and structure checks, the layout predicates, the component checks, the
// versions with their patch records), and padded with erased bytes to the layout's size as an
// update image (image type, version, key digest, component checks, update data) and as a flash
// (current and previous version, the update's and the rollback's checks, on a flash that refuses
// every write, so that they stop at the first one); and, as it is and padded, as the backup of a
// rollback cut short, offered to a flash that lost its previous block's first sector.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/firmware_update.h"
#include "engine/firmware_version.h"
#include "engine/image_key_digest.h"
#include "engine/rollback.h"
#include "engine/update_data.h"
#include "engine/update_image.h"
#include "shared/halvern_ncb.h"
#include "tools/hlvimage/image_builder.h"
#include "tools/hlvimage/image_report.h"
#include "tools/hlvimage/image_spec.h"
#include "tools/hlvimage/memory_flash.h"

namespace {

using namespace hlv;

// Small components keep each run short: the checks' cost is in the bytes they cover.
image::ImageSpec withSmallComponents(image::ImageSpec spec) {
  for (image::NcbSpec& ncb : spec.ncbs)
    ncb.sizes = {0x200, 0x400, 0x200, 0x100, 0x300};
  return spec;
}

// A valid update image and a valid flash for the other side of each update check.
const std::vector<uint8_t>& validImage() {
  static const std::vector<uint8_t> image =
      image::buildImage(withSmallComponents(image::ImageSpec()));
  return image;
}

const std::vector<uint8_t>& validFlash() {
  static const std::vector<uint8_t> flash =
      image::buildImage(withSmallComponents(image::updatedFlashSpec({1, 5, 86}, {1, 6, 2})));
  return flash;
}

// The valid flash after a rollback cut while it rewrote the previous block's first sector.
const std::vector<uint8_t>& flashWithoutPrevious() {
  static const std::vector<uint8_t> flash = [] {
    std::vector<uint8_t> lost = validFlash();
    const uint32_t previous = ConstHalvernNcb(lost.data()).active() ? kNcb1Address : kNcb0Address;
    constexpr uint32_t kFirstSector = 0x1000;
    std::fill_n(lost.begin() + previous, kFirstSector, 0xFF);
    return lost;
  }();
  return flash;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> input(data, size);
  const image::ImageReport report = image::analyzeImage(input, size);
  image::formatReportText(report);
  image::formatReportJson(report);

  // Erased behind the input; only what the previous input covered is erased again.
  static std::vector<uint8_t> padded(kFlashLayoutSize, 0xFF);
  static std::size_t previous = 0;
  const std::size_t kept = std::min<std::size_t>(size, padded.size());
  std::copy_n(data, kept, padded.begin());
  if (previous > kept)
    std::fill(padded.begin() + static_cast<std::ptrdiff_t>(kept),
              padded.begin() + static_cast<std::ptrdiff_t>(previous), 0xFF);
  previous = kept;

  // Every status is ignored on purpose: only what the parsers do with the bytes matters here.
  uint32_t type = 0;
  (void)getImageType(padded, type);
  FirmwareVersion version;
  (void)getImageVersion(padded, version);
  KeyDigest digest{};
  (void)getImageKeyDigest(padded, digest);
  const uint8_t blob[] = {0x01, 0x02, 0x03, 0x04};
  if (const std::optional<UpdateImage> parsed = UpdateImage::parse(padded)) {
    (void)checkImageComponents(*parsed, 256);
    UpdateData updateData;
    (void)parseUpdateData(*parsed, ConfigBlobs{blob, blob}, updateData);
  }

  image::MemoryFlash crafted(padded);
  (void)readCurrentVersion(crafted, version);
  (void)readPreviousVersion(crafted, version);
  FlashUpdateInput update;
  update.image = validImage();
  update.blobD = blob;
  update.blobE = blob;
  (void)updateFirmware(crafted, update);
  (void)rollbackToPreviousImage(crafted);

  image::MemoryFlash valid(validFlash());
  update.image = padded;
  (void)updateFirmware(valid, update);

  image::MemoryFlash withoutPrevious(flashWithoutPrevious());
  RollbackPlan plan;
  (void)planRollback(withoutPrevious, input, plan);
  (void)planRollback(crafted, {}, plan);
  (void)rollbackFromBackup(withoutPrevious, padded);
  (void)rollbackFromBackup(crafted, flashWithoutPrevious());
  return 0;
}
