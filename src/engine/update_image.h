// An update image read once: the control block the image's readers take and, for each firmware
// component that block describes, where its bytes lie in the image. The image's CRCs, tag and
// version are the block's fields. The readouts of an image (version, type, key digest), the
// checks before an update and the copies into the flash all take this value; none of them looks
// for the block again.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "shared/halvern_ncb.h"

namespace hlv {

class UpdateImage {
 public:
  // The block is taken from the image's first two blocks: NCB0 when it is active and its CRC
  // holds, else NCB1 under the same test. None (trace record) for an image smaller than the
  // flash layout or without such a block. The image is not copied and must outlive the value;
  // components are looked for in all of it.
  [[nodiscard]] static std::optional<UpdateImage> parse(std::span<const uint8_t> image);

  std::span<const uint8_t> bytes() const { return bytes_; }
  ConstHalvernNcb ncb() const { return ncb_; }
  // Where the block places the component.
  NcbRegion region(NcbComponent component) const { return ncb_.component(component); }
  // The component's bytes; none when the block places it (partly) past the image's end.
  std::optional<std::span<const uint8_t>> component(NcbComponent component) const {
    return components_[static_cast<std::size_t>(component)];
  }
  // The first component, in the block's order, placed past the image's end; none when the image
  // holds them all.
  std::optional<NcbComponent> componentOutside() const;

 private:
  UpdateImage(std::span<const uint8_t> bytes, ConstHalvernNcb ncb);

  std::span<const uint8_t> bytes_;
  ConstHalvernNcb ncb_;
  std::array<std::optional<std::span<const uint8_t>>, kAllNcbComponents.size()> components_;
};

}  // namespace hlv
