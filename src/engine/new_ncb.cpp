#include "engine/new_ncb.h"

#include <algorithm>
#include <cstring>

#include "engine/flash_layout.h"
#include "engine/new_ncb_trace.h"
#include "platform/hlv_assert.h"

namespace hlv {
namespace tp = trace_points::new_ncb;

namespace {

// Header bytes the engine gives no meaning and carries from block to block: (offset, length).
constexpr std::pair<uint32_t, uint32_t> kCarriedFields[] = {
    {0x00, 0x1C}, {0x1C, 4}, {0x38, 2}, {0x3C, 4}, {0x4C, 1},
    {0x4D, 4},    {0x51, 1}, {0x62, 2}, {0x70, 2},
};

class AreaPacker {
 public:
  AreaPacker(HalvernNcb ncb, bool inSlot1) : ncb_(ncb), inSlot1_(inSlot1) {}

  // Places `length` bytes of `content` at the cursor as area `which`. An empty area still
  // records the cursor as its offset and takes no room.
  bool place(NcbArea which, const uint8_t* content, uint16_t length) {
    const uint32_t offset = cursor_;
    NcbAreaDescriptor descriptor{static_cast<uint16_t>(offset), length};
    if (which == NcbArea::kB && inSlot1_)
      descriptor.offset = static_cast<uint16_t>(offset | kNcbAreaBSlotBit);
    ncb_.setArea(which, descriptor);
    if (length == 0) return true;
    if (offset + length > kNcbBlockSize) {
      trace::emit(tp::kAreaTooLong, static_cast<uint8_t>(which), offset + length, kNcbBlockSize);
      return false;
    }
    std::memcpy(ncb_.data() + offset, content, length);
    cursor_ = alignUp(offset + length, kNcbAreaAlignment);
    return true;
  }

  // Records the cursor with a length of 0 without taking room.
  void placeEmpty(NcbArea which) { ncb_.setArea(which, {static_cast<uint16_t>(cursor_), 0}); }

 private:
  HalvernNcb ncb_;
  bool inSlot1_;
  uint32_t cursor_ = kNcbFirstNewArea;
};

// The bytes of one of the active block's areas, or null when they would lie outside the block.
const uint8_t* areaContent(ConstHalvernNcb ncb, NcbArea which) {
  const uint32_t offset = ncb.areaOffsetInBlock(which);
  const uint32_t length = ncb.area(which).length;
  if (offset + length > kNcbBlockSize) {
    trace::emit(tp::kSourceAreaOutside, static_cast<uint8_t>(which), offset, length);
    return nullptr;
  }
  return ncb.data() + offset;
}

}  // namespace

bool buildNewNcb(ConstHalvernNcb activeNcb, HalvernNcb newNcb, uint32_t newNcbAddress,
                 const UpdateData& updateData) {
  HLV_ASSERT(newNcbAddress == kNcb0Address || newNcbAddress == kNcb1Address);
  HLV_ASSERT(updateData.image.has_value());
  trace::emit(tp::kBuild, newNcbAddress, updateData.areaDLength, updateData.areaELength);
  std::fill_n(newNcb.data(), kNcbBlockSize, uint8_t{0});
  AreaPacker packer(newNcb, newNcbAddress == kNcb1Address);

  auto carry = [&](NcbArea which) {
    const uint16_t length = activeNcb.area(which).length;
    const uint8_t* content = length == 0 ? nullptr : areaContent(activeNcb, which);
    if (length != 0 && content == nullptr) return false;
    return packer.place(which, content, length);
  };
  if (!carry(NcbArea::kA) || !carry(NcbArea::kB)) return false;
  // One offset recorded for both areaB and areaC means one area named twice: it is kept once.
  const NcbAreaDescriptor areaB = activeNcb.areaB();
  const NcbAreaDescriptor areaC = activeNcb.areaC();
  if (areaB.length != 0 && areaC.length != 0 && areaB.offset == areaC.offset) {
    trace::emit(tp::kAreaCShared, areaC.offset);
    packer.placeEmpty(NcbArea::kC);
  } else if (!carry(NcbArea::kC)) {
    return false;
  }
  if (!carry(NcbArea::kF)) return false;
  if (!packer.place(NcbArea::kE, updateData.areaEData, updateData.areaELength)) return false;
  if (!packer.place(NcbArea::kD, updateData.areaDData, updateData.areaDLength)) return false;

  for (const auto& [offset, length] : kCarriedFields)
    std::memcpy(newNcb.data() + offset, activeNcb.data() + offset, length);

  const NcbAreaDescriptor areaD = newNcb.areaD();
  newNcb.setSize(static_cast<uint16_t>(areaD.offset + areaD.length));
  const ConstHalvernNcb imageNcb = updateData.image->ncb();
  newNcb.setImageVersion(imageNcb.imageVersion() & 0xFFFFFF);
  newNcb.setImageTag(static_cast<uint16_t>(imageNcb.imageTag() & 0x3FFF));
  newNcb.setFreeArea({0, 0});
  trace::emit(tp::kBuilt, newNcbAddress, newNcb.size());
  return true;
}

}  // namespace hlv
