#include "tools/hlvimage/image_spec.h"

namespace hlv::image {

std::array<AreaSpec, 6> NcbSpec::defaultAreas() {
  std::array<AreaSpec, 6> areas{};
  auto filled = [](uint16_t length) {
    AreaSpec area;
    area.kind = AreaSpec::Kind::kFilled;
    area.length = length;
    return area;
  };
  AreaSpec record;
  record.kind = AreaSpec::Kind::kRecord;
  areas[static_cast<std::size_t>(NcbArea::kA)] = filled(0x40);
  areas[static_cast<std::size_t>(NcbArea::kB)] = filled(0x20);
  areas[static_cast<std::size_t>(NcbArea::kC)] = filled(0x40);
  areas[static_cast<std::size_t>(NcbArea::kD)] = record;
  areas[static_cast<std::size_t>(NcbArea::kE)] = record;
  return areas;
}

ImageSpec::ImageSpec() {
  ncbs[1].erased = true;
  ncbs[1].seed = 2;
}

ImageSpec updatedFlashSpec(FirmwareVersion previous, FirmwareVersion current) {
  ImageSpec spec;
  spec.ncbs[0].state = NcbState::kDeactivated;
  spec.ncbs[0].firmware.version = previous;
  spec.ncbs[1].erased = false;
  spec.ncbs[1].state = NcbState::kActive;
  spec.ncbs[1].firmware.version = current;
  return spec;
}

ImageSpec typeOneFlashSpec() {
  ImageSpec spec;
  spec.ncbs[0].bank = Bank::kB;
  spec.ncbs[0].freeAreaOtherBank = true;
  return spec;
}

ImageSpec bothActiveFlashSpec(FirmwareVersion ncb0Version, FirmwareVersion ncb1Version) {
  ImageSpec spec = updatedFlashSpec(ncb0Version, ncb1Version);
  spec.ncbs[0].state = NcbState::kActive;
  return spec;
}

}  // namespace hlv::image
