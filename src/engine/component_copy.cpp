#include "engine/component_copy.h"

#include <array>
#include <string_view>

#include "engine/byte_buffer.h"
#include "engine/component_copy_trace.h"
#include "engine/flash_access.h"
#include "engine/flash_layout.h"
#include "engine/flash_verify.h"
#include "platform/hlv_assert.h"
#include "shared/crc16.h"

namespace hlv {
namespace tp = trace_points::component_copy;

namespace {

enum class CrcField : uint8_t { kMac, kPhy, kRom };

// One firmware component: its parts, its CRC field, and the names its copies carry in trace
// records.
struct CopyPlan {
  std::string_view name;            // a copy within the flash
  std::string_view nameFromUpdate;  // a copy from an update image
  uint32_t partCount;
  std::array<NcbComponent, 2> parts;
  CrcField crcField;
  // imageVersion and imageTag travel with the MAC firmware when it moves within the flash.
  bool carriesImageFields;
};

constexpr CopyPlan kMacPlan{"MAC",
                            "MAC from the update",
                            2,
                            {NcbComponent::kMacPart1, NcbComponent::kMacPart2},
                            CrcField::kMac,
                            true};
constexpr CopyPlan kPhyPlan{"PHY",
                            "PHY from the update",
                            2,
                            {NcbComponent::kPhyPart1, NcbComponent::kPhyPart2},
                            CrcField::kPhy,
                            false};
constexpr CopyPlan kRomPlan{"option ROM",
                            "option ROM from the update",
                            1,
                            {NcbComponent::kRom, NcbComponent::kRom},
                            CrcField::kRom,
                            false};
// The order the components are written in, one behind the other.
constexpr std::array<const CopyPlan*, 3> kAllPlans = {&kMacPlan, &kPhyPlan, &kRomPlan};

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
  std::array<NcbRegion, 2> source{};
  uint64_t total = 0;
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    source[i] = activeNcb.component(plan.parts[i]);
    total += source[i].size;
  }
  trace::emit(tp::kCopy, plan.name, startAddress, source[0].size,
              plan.partCount > 1 ? source[1].size : 0u);

  const ByteBuffer buffer = ByteBuffer::allocate(static_cast<uint32_t>(total));
  if (!buffer.ok()) {
    trace::emit(tp::kNoMemory, plan.name, static_cast<uint32_t>(total));
    return kStatusOutOfMemory;
  }
  std::array<ComponentPart, 2> parts{};
  uint8_t* next = buffer.data();
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    const FlashUpdateStatus status = readFlash(flashCtrl, source[i].offset, next, source[i].size);
    if (status != kStatusSuccess) {
      trace::emit(tp::kReadFailed, plan.name, i + 1, status);
      return status;
    }
    parts[i] = {plan.parts[i], {next, source[i].size}};
    next += source[i].size;
  }
  const uint16_t computed = crc16(buffer.data(), total);
  const uint16_t recorded = crcOf(activeNcb, plan.crcField);
  if (computed != recorded) {
    trace::emit(tp::kCrcMismatch, plan.name, computed, recorded);
    return kStatusComponentCrcMismatch;
  }

  const FlashUpdateStatus status = placeComponentParts(
      plan.name, flashCtrl, nonactiveNcb, startAddress, std::span(parts).first(plan.partCount));
  if (status != kStatusSuccess) return status;
  setCrcOf(nonactiveNcb, plan.crcField, recorded);
  if (plan.carriesImageFields) {
    nonactiveNcb.setImageVersion(activeNcb.imageVersion());
    nonactiveNcb.setImageTag(activeNcb.imageTag());
  }
  return kStatusSuccess;
}

FlashUpdateStatus copyFromUpdate(const CopyPlan& plan, VoFlashControlInterface& flashCtrl,
                                 HalvernNcb nonactiveNcb, uint32_t& startAddress,
                                 const UpdateImage& image) {
  std::array<ComponentPart, 2> parts{};
  for (uint32_t i = 0; i < plan.partCount; ++i) {
    const std::optional<std::span<const uint8_t>> bytes = image.component(plan.parts[i]);
    HLV_ASSERT(bytes.has_value());
    parts[i] = {plan.parts[i], *bytes};
  }
  const FlashUpdateStatus status =
      placeComponentParts(plan.nameFromUpdate, flashCtrl, nonactiveNcb, startAddress,
                          std::span(parts).first(plan.partCount));
  if (status == kStatusSuccess)
    setCrcOf(nonactiveNcb, plan.crcField, crcOf(image.ncb(), plan.crcField));
  return status;
}

// Copies every component, one behind the other, with `copy`; the first failing status.
template <class Copy>
FlashUpdateStatus copyEach(const Copy& copy) {
  for (const CopyPlan* plan : kAllPlans) {
    const FlashUpdateStatus status = copy(*plan);
    if (status != kStatusSuccess) return status;
  }
  return kStatusSuccess;
}

}  // namespace

FlashUpdateStatus placeComponentParts(std::string_view name, VoFlashControlInterface& flashCtrl,
                                      HalvernNcb targetNcb, uint32_t& startAddress,
                                      std::span<const ComponentPart> parts) {
  const uint32_t page = flashCtrl.pageSize;
  std::array<uint64_t, 2> addresses{};
  HLV_ASSERT(parts.size() <= addresses.size());
  trace::emit(tp::kPlacing, name, startAddress, static_cast<uint32_t>(parts.size()));
  uint64_t cursor = startAddress;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    addresses[i] = cursor;
    cursor = alignUp64(cursor + parts[i].bytes.size(), page);
  }
  // The new places are recorded in 24-bit fields and must lie in the flash the layout describes.
  if (cursor > kFlashLayoutSize) {
    trace::emit(tp::kPlacementOutside, name, cursor);
    return kStatusFlashWriteFailed;
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (parts[i].bytes.empty()) continue;
    const auto address = static_cast<uint32_t>(addresses[i]);
    const FlashUpdateStatus status = writeFlash(flashCtrl, address, parts[i].bytes.data(),
                                                static_cast<uint32_t>(parts[i].bytes.size()));
    if (status != kStatusSuccess) {
      trace::emit(tp::kWriteFailed, name, static_cast<uint32_t>(i + 1), address, status);
      return status;
    }
  }
  // What was programmed is read back before anything describes it, and only after every part is
  // programmed, so that a later program cannot disturb what was checked: a part may report a
  // program as done while a cell kept its old value.
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const auto address = static_cast<uint32_t>(addresses[i]);
    const FlashUpdateStatus status = verifyFlash(flashCtrl, address, parts[i].bytes);
    if (status != kStatusSuccess) {
      trace::emit(tp::kVerifyFailed, name, static_cast<uint32_t>(i + 1), address, status);
      return status;
    }
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    targetNcb.setComponent(parts[i].component, {static_cast<uint32_t>(addresses[i]),
                                                static_cast<uint32_t>(parts[i].bytes.size())});
  }
  startAddress = static_cast<uint32_t>(cursor);
  trace::emit(tp::kCopied, name, startAddress);
  return kStatusSuccess;
}

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

FlashUpdateStatus copyAllFW(VoFlashControlInterface& flashCtrl, ConstHalvernNcb activeNcb,
                            HalvernNcb nonactiveNcb, uint32_t& startAddress) {
  return copyEach([&](const CopyPlan& plan) {
    return copyComponent(plan, flashCtrl, activeNcb, nonactiveNcb, startAddress);
  });
}

FlashUpdateStatus copyMacFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateImage& image) {
  return copyFromUpdate(kMacPlan, flashCtrl, nonactiveNcb, startAddress, image);
}

FlashUpdateStatus copyPhyFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateImage& image) {
  return copyFromUpdate(kPhyPlan, flashCtrl, nonactiveNcb, startAddress, image);
}

FlashUpdateStatus copyRomFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateImage& image) {
  return copyFromUpdate(kRomPlan, flashCtrl, nonactiveNcb, startAddress, image);
}

FlashUpdateStatus copyAllFromUpdate(VoFlashControlInterface& flashCtrl, HalvernNcb nonactiveNcb,
                                    uint32_t& startAddress, const UpdateImage& image) {
  return copyEach([&](const CopyPlan& plan) {
    return copyFromUpdate(plan, flashCtrl, nonactiveNcb, startAddress, image);
  });
}

}  // namespace hlv
