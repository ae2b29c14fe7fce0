#include "engine/update_image.h"

#include "engine/flash_layout.h"
#include "engine/ncb.h"
#include "engine/update_image_trace.h"

namespace hlv {
namespace tp = trace_points::update_image;

std::optional<UpdateImage> UpdateImage::parse(std::span<const uint8_t> image) {
  if (image.size() < kFlashLayoutSize) {
    trace::emit(tp::kImageTooSmall, static_cast<uint64_t>(image.size()));
    return std::nullopt;
  }
  const std::optional<ConstHalvernNcb> ncb = findActiveImageNcb(image);
  if (!ncb) {
    trace::emit(tp::kImageNoActiveNcb);
    return std::nullopt;
  }
  return UpdateImage(image, *ncb);
}

UpdateImage::UpdateImage(std::span<const uint8_t> bytes, ConstHalvernNcb ncb)
    : bytes_(bytes), ncb_(ncb) {
  for (NcbComponent component : kAllNcbComponents) {
    const NcbRegion region = ncb.component(component);
    if (static_cast<uint64_t>(region.offset) + region.size <= bytes.size())
      components_[static_cast<std::size_t>(component)] = bytes.subspan(region.offset, region.size);
  }
}

std::optional<NcbComponent> UpdateImage::componentOutside() const {
  for (NcbComponent component : kAllNcbComponents)
    if (!this->component(component)) return component;
  return std::nullopt;
}

}  // namespace hlv
