#include "engine/component_copy.h"

#include <array>
#include <string_view>

#include "engine/byte_buffer.h"
#include "engine/component_copy_trace.h"
#include "engine/flash_access.h"
#include "engine/flash_layout.h"
#include "engine/flash_verify.h"
#include "shared/crc16.h"

namespace hlv {
namespace tp = trace_points::component_copy;

namespace {

enum class CrcField : uint8_t { kMac, kPhy, kRom };

struct CopyPlan {
  std::string_view name;
  uint32_t partCount;
  std::array<NcbComponent, 2> parts;
  CrcField crcField;
  bool carriesImageFields;  // imageVersion and imageTag travel with the MAC firmware
};

constexpr CopyPlan kMacPlan{
    "MAC", 2, {NcbComponent::kMacPart1, NcbComponent::kMacPart2}, CrcField::kMac, true};
constexpr CopyPlan kPhyPlan{
    "PHY", 2, {NcbComponent::kPhyPart1, NcbComponent::kPhyPart2}, CrcField::kPhy, false};
constexpr CopyPlan kRomPlan{
    "option ROM", 1, {NcbComponent::kRom, NcbComponent::kRom}, CrcField::kRom, false};

uint16_t crcOf(ConstHalvernNcb ncb, CrcField field) {
  switch (field) {
    case CrcField::kMac:
      return ncb.macCrc();
    case CrcField::kPhy:
      return ncb.phyCrc();
    case CrcField::kRom:
      return ncb.romCrc();
  }
  return 0;
}

void setCrcOf(HalvernNcb ncb, CrcField field, uint16_t value) {
  switch (field) {
    case CrcField::kMac:
      ncb.setMacCrc(value);
      break;
    case CrcField::kPhy:
      ncb.setPhyCrc(value);
      break;
    case CrcField::kRom:
      ncb.setRomCrc(value);
      break;
  }
}

uint64_t alignUp64(uint64_t value, uint32_t unit) {
  return unit == 0 ? value : (value + unit - 1) / unit * unit;
}

FlashUpdateStatus copyComponent(const CopyPlan& plan, VoFlashControlInterface& flashCtrl,
                                ConstHalvernNcb activeNcb, HalvernNcb nonactiveNcb,
                                uint32_t& startAddress) {
  const uint32_t page = flashCtrl.pageSize;
  std::array<NcbRegion, 2> source{};
  std::array<uint64_t, 2> target{};
  uint64_t cursor = startAddress;
  uint64_t total = 0;
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    source[i] = activeNcb.component(plan.parts[i]);
    target[i] = cursor;
    cursor = alignUp64(cursor + source[i].size, page);
    total += source[i].size;
  }
  trace::emit(tp::kCopy, plan.name, startAddress, source[0].size,
              plan.partCount > 1 ? source[1].size : 0u);
  // The new place is recorded in 24-bit fields and must lie in the flash the layout describes.
  if (cursor > kFlashLayoutSize) {
    trace::emit(tp::kPlacementOutside, plan.name, cursor);
    return kStatusFlashWriteFailed;
  }

  const ByteBuffer buffer = ByteBuffer::allocate(static_cast<uint32_t>(total));
  if (!buffer.ok()) {
    trace::emit(tp::kNoMemory, plan.name, static_cast<uint32_t>(total));
    return kStatusOutOfMemory;
  }
  std::array<uint8_t*, 2> partData{buffer.data(), buffer.data() + source[0].size};
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    const FlashUpdateStatus status =
        readFlash(flashCtrl, source[i].offset, partData[i], source[i].size);
    if (status != kStatusSuccess) {
      trace::emit(tp::kReadFailed, plan.name, i + 1, status);
      return status;
    }
  }
  const uint16_t computed = crc16(buffer.data(), total);
  const uint16_t recorded = crcOf(activeNcb, plan.crcField);
  if (computed != recorded) {
    trace::emit(tp::kCrcMismatch, plan.name, computed, recorded);
    return kStatusComponentCrcMismatch;
  }
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    const FlashUpdateStatus status =
        writeFlash(flashCtrl, static_cast<uint32_t>(target[i]), partData[i], source[i].size);
    if (status != kStatusSuccess) {
      trace::emit(tp::kWriteFailed, plan.name, i + 1, static_cast<uint32_t>(target[i]), status);
      return status;
    }
  }

  // What was programmed is read back before anything describes it: a part that reported a
  // program as done may still hold other bytes.
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    const FlashUpdateStatus status =
        verifyFlash(flashCtrl, static_cast<uint32_t>(target[i]), {partData[i], source[i].size});
    if (status != kStatusSuccess) {
      trace::emit(tp::kVerifyFailed, plan.name, i + 1, static_cast<uint32_t>(target[i]), status);
      return status;
    }
  }

  // Only now, with every part in place, does the non-active block learn of them. An absent
  // part stays absent.
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    const uint32_t offset =
        source[i].size == 0 && source[i].offset == 0 ? 0 : static_cast<uint32_t>(target[i]);
    nonactiveNcb.setComponent(plan.parts[i], {offset, source[i].size});
  }
  setCrcOf(nonactiveNcb, plan.crcField, recorded);
  if (plan.carriesImageFields) {
    nonactiveNcb.setImageVersion(activeNcb.imageVersion());
    nonactiveNcb.setImageTag(activeNcb.imageTag());
  }
  startAddress = static_cast<uint32_t>(cursor);
  trace::emit(tp::kCopied, plan.name, startAddress);
  return kStatusSuccess;
}

}  // namespace

FlashUpdateStatus copyMacFW(VoFlashControlInterface& flashCtrl, ConstHalvernNcb activeNcb,
                            HalvernNcb nonactiveNcb, uint32_t& startAddress) {
  return copyComponent(kMacPlan, flashCtrl, activeNcb, nonactiveNcb, startAddress);
}

FlashUpdateStatus copyPhyFW(VoFlashControlInterface& flashCtrl, ConstHalvernNcb activeNcb,
                            HalvernNcb nonactiveNcb, uint32_t& startAddress) {
  return copyComponent(kPhyPlan, flashCtrl, activeNcb, nonactiveNcb, startAddress);
}

FlashUpdateStatus copyPciRom(VoFlashControlInterface& flashCtrl, ConstHalvernNcb activeNcb,
                             HalvernNcb nonactiveNcb, uint32_t& startAddress) {
  return copyComponent(kRomPlan, flashCtrl, activeNcb, nonactiveNcb, startAddress);
}

}  // namespace hlv
